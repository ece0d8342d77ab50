// SPDX-License-Identifier: MIT
#include "platform/TypeIdentifiers.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <unordered_map>

#include "platform/Paths.h"

namespace tavro::platform {

struct UniformType::Entry {
    std::string identifier;
    std::vector<std::string> parents;
    std::vector<std::string> extensions;  // preferred first
    std::vector<std::string> mimeTypes;   // preferred first
    std::string description;              // empty for the abstract roots
    std::vector<const Entry*> ancestors;  // itself and every ancestor, filled once
};

namespace {

using Entry = UniformType::Entry;

// The system's declared types. Parents come before children only for readability; the closure
// below does not depend on the order. Where two types claim one extension or MIME type, the
// earlier row wins the lookup.
std::vector<Entry> declaredTypes() {
    return {
        // Roots and abstract bases.
        {"public.item", {}, {}, {}, "item", {}},
        {"public.content", {}, {}, {}, "content", {}},
        {"public.data", {"public.item"}, {}, {"application/octet-stream"}, "data", {}},
        {"public.composite-content", {"public.content"}, {}, {}, "composite content", {}},
        {"public.directory", {"public.item"}, {}, {}, "directory", {}},
        {"public.folder", {"public.directory"}, {}, {}, "folder", {}},
        {"public.archive", {"public.data"}, {}, {}, "archive", {}},
        {"public.url", {"public.data"}, {}, {}, "URL", {}},
        {"public.file-url", {"public.url"}, {}, {}, "file URL", {}},

        // Text.
        {"public.text", {"public.data", "public.content"}, {}, {}, "text", {}},
        {"public.plain-text", {"public.text"}, {"txt", "text"}, {"text/plain"}, "plain text", {}},
        {"public.utf8-plain-text",
         {"public.plain-text"},
         {},
         {"text/plain;charset=utf-8"},
         "Unicode text",
         {}},
        {"public.utf16-plain-text", {"public.plain-text"}, {}, {}, "UTF-16 text", {}},
        {"net.daringfireball.markdown",
         {"public.plain-text"},
         {"md", "markdown"},
         {"text/markdown", "text/x-markdown"},
         "Markdown text",
         {}},
        {"public.html", {"public.text"}, {"html", "htm"}, {"text/html"}, "HTML text", {}},
        {"public.xml", {"public.text"}, {"xml"}, {"application/xml", "text/xml"}, "XML text", {}},
        {"public.json", {"public.text"}, {"json"}, {"application/json"}, "JSON", {}},
        {"public.yaml", {"public.text"}, {"yaml", "yml"}, {"application/x-yaml"}, "YAML", {}},
        {"public.rtf", {"public.text"}, {"rtf"}, {"text/rtf", "application/rtf"}, "RTF", {}},
        {"public.comma-separated-values-text",
         {"public.text"},
         {"csv"},
         {"text/csv"},
         "comma-separated values",
         {}},
        {"public.tab-separated-values-text",
         {"public.text"},
         {"tsv"},
         {"text/tab-separated-values"},
         "tab-separated values",
         {}},
        {"public.source-code", {"public.plain-text"}, {}, {}, "source code", {}},
        {"public.script", {"public.source-code"}, {}, {}, "script", {}},
        {"public.shell-script",
         {"public.script"},
         {"sh"},
         {"application/x-sh"},
         "shell script",
         {}},
        {"public.python-script", {"public.script"}, {"py"}, {"text/x-python"}, "Python script", {}},
        {"com.netscape.javascript-source",
         {"public.script"},
         {"js", "mjs"},
         {"text/javascript", "application/javascript"},
         "JavaScript",
         {}},
        {"public.css", {"public.text"}, {"css"}, {"text/css"}, "CSS", {}},
        {"public.vcard", {"public.text"}, {"vcf", "vcard"}, {"text/vcard"}, "vCard", {}},
        {"public.calendar-event",
         {"public.text"},
         {"ics"},
         {"text/calendar"},
         "calendar event",
         {}},

        // Images.
        {"public.image", {"public.data", "public.content"}, {}, {}, "image", {}},
        {"public.png", {"public.image"}, {"png"}, {"image/png"}, "PNG image", {}},
        {"public.jpeg", {"public.image"}, {"jpeg", "jpg", "jpe"}, {"image/jpeg"}, "JPEG image", {}},
        {"public.heif-standard", {"public.image"}, {}, {}, "HEIF image", {}},
        {"public.heic", {"public.heif-standard"}, {"heic"}, {"image/heic"}, "HEIC image", {}},
        {"public.heif", {"public.heif-standard"}, {"heif"}, {"image/heif"}, "HEIF image", {}},
        {"com.compuserve.gif", {"public.image"}, {"gif"}, {"image/gif"}, "GIF image", {}},
        {"org.webmproject.webp", {"public.image"}, {"webp"}, {"image/webp"}, "WebP image", {}},
        {"public.tiff", {"public.image"}, {"tiff", "tif"}, {"image/tiff"}, "TIFF image", {}},
        {"com.microsoft.bmp", {"public.image"}, {"bmp"}, {"image/bmp"}, "BMP image", {}},
        {"public.avif", {"public.image"}, {"avif"}, {"image/avif"}, "AVIF image", {}},
        {"public.svg-image", {"public.image"}, {"svg"}, {"image/svg+xml"}, "SVG image", {}},
        {"com.microsoft.ico",
         {"public.image"},
         {"ico"},
         {"image/vnd.microsoft.icon", "image/x-icon"},
         "Windows icon image",
         {}},
        {"com.adobe.photoshop-image",
         {"public.image"},
         {"psd"},
         {"image/vnd.adobe.photoshop"},
         "Adobe Photoshop document",
         {}},
        {"public.camera-raw-image",
         {"public.image"},
         {"dng"},
         {"image/x-adobe-dng"},
         "raw image",
         {}},

        // Audio and video.
        {"public.audiovisual-content",
         {"public.data", "public.content"},
         {},
         {},
         "audiovisual content",
         {}},
        {"public.movie", {"public.audiovisual-content"}, {}, {}, "movie", {}},
        {"public.video", {"public.movie"}, {}, {}, "video", {}},
        {"public.audio", {"public.audiovisual-content"}, {}, {}, "audio", {}},
        {"public.mpeg-4", {"public.movie"}, {"mp4", "mpg4"}, {"video/mp4"}, "MPEG-4 movie", {}},
        {"com.apple.quicktime-movie",
         {"public.movie"},
         {"mov", "qt"},
         {"video/quicktime"},
         "QuickTime movie",
         {}},
        {"public.mpeg", {"public.movie"}, {"mpeg", "mpg"}, {"video/mpeg"}, "MPEG movie", {}},
        {"public.avi",
         {"public.movie"},
         {"avi"},
         {"video/x-msvideo", "video/avi"},
         "AVI movie",
         {}},
        {"org.webmproject.webm", {"public.movie"}, {"webm"}, {"video/webm"}, "WebM movie", {}},
        {"org.matroska.mkv", {"public.movie"}, {"mkv"}, {"video/x-matroska"}, "Matroska movie", {}},
        {"public.3gpp", {"public.movie"}, {"3gp"}, {"video/3gpp"}, "3GPP movie", {}},
        {"com.apple.m4v-video", {"public.movie"}, {"m4v"}, {"video/x-m4v"}, "MPEG-4 video", {}},
        {"public.mp3", {"public.audio"}, {"mp3"}, {"audio/mpeg", "audio/mp3"}, "MP3 audio", {}},
        {"public.mpeg-4-audio",
         {"public.audio"},
         {"m4a"},
         {"audio/mp4", "audio/x-m4a"},
         "MPEG-4 audio",
         {}},
        {"com.microsoft.waveform-audio",
         {"public.audio"},
         {"wav", "wave"},
         {"audio/wav", "audio/x-wav", "audio/vnd.wave"},
         "WAVE audio",
         {}},
        {"public.aiff-audio",
         {"public.audio"},
         {"aiff", "aif"},
         {"audio/aiff", "audio/x-aiff"},
         "AIFF audio",
         {}},
        {"org.xiph.flac", {"public.audio"}, {"flac"}, {"audio/flac"}, "FLAC audio", {}},
        {"org.xiph.ogg-audio", {"public.audio"}, {"ogg", "oga"}, {"audio/ogg"}, "Ogg audio", {}},
        {"org.xiph.opus", {"public.audio"}, {"opus"}, {"audio/opus"}, "Opus audio", {}},
        {"public.aac-audio", {"public.audio"}, {"aac"}, {"audio/aac"}, "AAC audio", {}},
        {"public.midi-audio", {"public.audio"}, {"mid", "midi"}, {"audio/midi"}, "MIDI audio", {}},

        // Documents and archives.
        {"com.adobe.pdf",
         {"public.data", "public.composite-content"},
         {"pdf"},
         {"application/pdf"},
         "PDF document",
         {}},
        {"public.epub",
         {"public.data", "public.composite-content"},
         {"epub"},
         {"application/epub+zip"},
         "EPUB document",
         {}},
        {"org.openxmlformats.wordprocessingml.document",
         {"public.data", "public.composite-content"},
         {"docx"},
         {"application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
         "Word document",
         {}},
        {"org.openxmlformats.spreadsheetml.sheet",
         {"public.data", "public.composite-content"},
         {"xlsx"},
         {"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
         "Excel workbook",
         {}},
        {"org.openxmlformats.presentationml.presentation",
         {"public.data", "public.composite-content"},
         {"pptx"},
         {"application/vnd.openxmlformats-officedocument.presentationml.presentation"},
         "PowerPoint presentation",
         {}},
        {"org.oasis-open.opendocument.text",
         {"public.data", "public.composite-content"},
         {"odt"},
         {"application/vnd.oasis.opendocument.text"},
         "OpenDocument text",
         {}},
        {"public.zip-archive",
         {"public.data", "public.archive"},
         {"zip"},
         {"application/zip"},
         "ZIP archive",
         {}},
        {"org.gnu.gnu-zip-archive",
         {"public.data", "public.archive"},
         {"gz", "gzip"},
         {"application/gzip"},
         "gzip archive",
         {}},
        {"public.tar-archive",
         {"public.data", "public.archive"},
         {"tar"},
         {"application/x-tar"},
         "tar archive",
         {}},
        {"org.7-zip.7-zip-archive",
         {"public.data", "public.archive"},
         {"7z"},
         {"application/x-7z-compressed"},
         "7-Zip archive",
         {}},
    };
}

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowered(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), lowerAscii);
    return out;
}

// The table with its indexes, built once (thread-safe static initialisation).
class Registry {
  public:
    Registry() : entries_(declaredTypes()) {
        for (const Entry& e : entries_)
            byIdentifier_.emplace(lowered(e.identifier), &e);
        for (Entry& e : entries_)
            closeOver(e);
    }

    static const Registry& shared() {
        static const Registry registry;
        return registry;
    }

    const Entry* find(std::string_view identifier) const {
        auto it = byIdentifier_.find(lowered(identifier));
        return it == byIdentifier_.end() ? nullptr : it->second;
    }

    const std::vector<Entry>& entries() const { return entries_; }

  private:
    // Every ancestor reachable through the parents, the entry itself first. The hierarchy is
    // a small acyclic graph, so a work list is enough.
    void closeOver(Entry& entry) {
        std::vector<const Entry*> pending{&entry};
        while (!pending.empty()) {
            const Entry* current = pending.back();
            pending.pop_back();
            if (std::find(entry.ancestors.begin(), entry.ancestors.end(), current) !=
                entry.ancestors.end()) {
                continue;
            }
            entry.ancestors.push_back(current);
            for (const std::string& parent : current->parents) {
                if (const Entry* p = find(parent))
                    pending.push_back(p);
            }
        }
    }

    std::vector<Entry> entries_;
    std::unordered_map<std::string, const Entry*> byIdentifier_;
};

bool entryConforms(const Entry* entry, const Entry* to) {
    return std::find(entry->ancestors.begin(), entry->ancestors.end(), to) !=
           entry->ancestors.end();
}

// "text/plain; charset=UTF-8" and "text/plain;charset=utf-8" are the same MIME type.
std::string normalizedMime(std::string_view mime) {
    std::string out;
    for (char c : mime) {
        if (c != ' ' && c != '\t')
            out.push_back(lowerAscii(c));
    }
    return out;
}

std::optional<UniformType> findBy(const std::vector<std::string> Entry::*list,
                                  const std::string& wanted, const Entry* conformingTo,
                                  std::string (*normalize)(std::string_view)) {
    if (wanted.empty())
        return std::nullopt;
    for (const Entry& e : Registry::shared().entries()) {
        if (!entryConforms(&e, conformingTo))
            continue;
        for (const std::string& candidate : e.*list) {
            if (normalize(candidate) == wanted) {
                return UniformType::fromIdentifier(e.identifier);
            }
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<UniformType> UniformType::fromIdentifier(std::string_view identifier) {
    if (const Entry* e = Registry::shared().find(identifier))
        return UniformType(e);
    return std::nullopt;
}

std::optional<UniformType> UniformType::fromFilenameExtension(std::string_view extension) {
    return fromFilenameExtension(extension, data());
}

std::optional<UniformType> UniformType::fromFilenameExtension(std::string_view extension,
                                                              const UniformType& conformingTo) {
    return findBy(&Entry::extensions, lowered(extension), conformingTo.entry_, &lowered);
}

std::optional<UniformType> UniformType::fromMimeType(std::string_view mimeType) {
    std::string wanted = normalizedMime(mimeType);
    if (auto exact = findBy(&Entry::mimeTypes, wanted, data().entry_, &normalizedMime)) {
        return exact;
    }
    size_t parameters = wanted.find(';');
    if (parameters == std::string::npos)
        return std::nullopt;
    return findBy(&Entry::mimeTypes, wanted.substr(0, parameters), data().entry_, &normalizedMime);
}

const std::string& UniformType::identifier() const {
    return entry_->identifier;
}

std::optional<std::string> UniformType::preferredFilenameExtension() const {
    if (entry_->extensions.empty())
        return std::nullopt;
    return entry_->extensions.front();
}

std::optional<std::string> UniformType::preferredMimeType() const {
    if (entry_->mimeTypes.empty())
        return std::nullopt;
    return entry_->mimeTypes.front();
}

const std::vector<std::string>& UniformType::filenameExtensions() const {
    return entry_->extensions;
}

const std::vector<std::string>& UniformType::mimeTypes() const {
    return entry_->mimeTypes;
}

std::optional<std::string> UniformType::localizedDescription() const {
    if (entry_->description.empty())
        return std::nullopt;
    return entry_->description;
}

std::vector<UniformType> UniformType::supertypes() const {
    std::vector<UniformType> out;
    for (const std::string& parent : entry_->parents) {
        if (auto type = fromIdentifier(parent))
            out.push_back(*type);
    }
    return out;
}

bool UniformType::conforms(const UniformType& other) const {
    return entryConforms(entry_, other.entry_);
}

UniformType UniformType::named(std::string_view identifier) {
    // Only called with identifiers of the table above.
    return UniformType(Registry::shared().find(identifier));
}

UniformType UniformType::item() {
    return named("public.item");
}
UniformType UniformType::content() {
    return named("public.content");
}
UniformType UniformType::data() {
    return named("public.data");
}
UniformType UniformType::directory() {
    return named("public.directory");
}
UniformType UniformType::folder() {
    return named("public.folder");
}
UniformType UniformType::image() {
    return named("public.image");
}
UniformType UniformType::png() {
    return named("public.png");
}
UniformType UniformType::jpeg() {
    return named("public.jpeg");
}
UniformType UniformType::audiovisualContent() {
    return named("public.audiovisual-content");
}
UniformType UniformType::movie() {
    return named("public.movie");
}
UniformType UniformType::video() {
    return named("public.video");
}
UniformType UniformType::audio() {
    return named("public.audio");
}
UniformType UniformType::text() {
    return named("public.text");
}
UniformType UniformType::plainText() {
    return named("public.plain-text");
}
UniformType UniformType::utf8PlainText() {
    return named("public.utf8-plain-text");
}
UniformType UniformType::url() {
    return named("public.url");
}
UniformType UniformType::fileURL() {
    return named("public.file-url");
}
UniformType UniformType::pdf() {
    return named("com.adobe.pdf");
}

bool conforms(std::string_view identifier, std::string_view to) {
    auto type = UniformType::fromIdentifier(identifier);
    auto target = UniformType::fromIdentifier(to);
    return type && target && type->conforms(*target);
}

std::optional<UniformType> contentTypeOfFile(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    if (S_ISDIR(info.st_mode))
        return UniformType::folder();
    std::string extension = paths::extension(path);
    if (auto byExtension = UniformType::fromFilenameExtension(extension))
        return byExtension;
    return UniformType::data();
}

}  // namespace tavro::platform
