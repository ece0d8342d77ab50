// SPDX-License-Identifier: MIT
#include "platform/Json.h"
#include "platform/LargePages.h"
#include "platform/Prefault.h"

#include <simdjson.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "platform/Error.h"
#include "platform/JsonWriter.h"
#include "platform/Text.h"

namespace tavro::platform::json {

namespace dom = simdjson::dom;

// Our handles and the parser's types they hold, converted by copying bytes.
struct detail::Access {
    template <typename Theirs>
    static void check() {
        static_assert(std::is_trivially_copyable_v<Theirs>);
        static_assert(sizeof(Theirs) <= sizeof(Handle::bytes));
        static_assert(alignof(Theirs) <= alignof(Handle));
    }

    template <typename Theirs, typename Ours>
    static Theirs from(const Ours& ours) {
        check<Theirs>();
        Theirs theirs;
        std::memcpy(static_cast<void*>(&theirs), ours.handle_.bytes, sizeof theirs);
        return theirs;
    }

    template <typename Ours, typename Theirs>
    static Ours to(const Theirs& theirs) {
        check<Theirs>();
        Ours ours;
        std::memcpy(ours.handle_.bytes, static_cast<const void*>(&theirs), sizeof theirs);
        return ours;
    }
};

namespace {

using detail::Access;

dom::element theirs(Element element) {
    return Access::from<dom::element>(element);
}
dom::object theirs(ObjectView object) {
    return Access::from<dom::object>(object);
}
dom::array theirs(ArrayView array) {
    return Access::from<dom::array>(array);
}
Element ours(dom::element element) {
    return Access::to<Element>(element);
}

constexpr int64_t kParseErrorCode = 3840;
constexpr const char* kParseErrorText =
    "The data couldn\u2019t be read because it isn\u2019t in the correct format.";
constexpr int64_t kWriteErrorCode = 3852;
constexpr const char* kWriteErrorText =
    "The data couldn\u2019t be written because it isn\u2019t in the correct format.";

// Nesting deeper than this is refused, as the platform's reader does; it also bounds the
// parser's own memory for depth.
constexpr size_t kMaxDepth = 512;

// 2^63: every double below it (and at or above its negation) fits into int64.
constexpr double kTwoTo63 = 9223372036854775808.0;
constexpr double kTwoTo53 = 9007199254740992.0;

[[noreturn]] void parseError(std::string detail) {
    throwError(kCocoaErrorDomain, kParseErrorCode, kParseErrorText, std::move(detail));
}

const char* typeName(dom::element_type type) {
    switch (type) {
        case dom::element_type::ARRAY:
            return "an array";
        case dom::element_type::OBJECT:
            return "an object";
        case dom::element_type::STRING:
            return "a string";
        case dom::element_type::BOOL:
            return "a boolean";
        case dom::element_type::NULL_VALUE:
            return "null";
        default:
            return "a number";
    }
}

std::optional<double> numberValue(const dom::element& element) {
    if (int64_t i; element.get_int64().get(i) == simdjson::SUCCESS) {
        return static_cast<double>(i);
    }
    if (uint64_t u; element.get_uint64().get(u) == simdjson::SUCCESS) {
        return static_cast<double>(u);
    }
    if (double d; element.get_double().get(d) == simdjson::SUCCESS) {
        return d;
    }
    return std::nullopt;
}

// Whether the integer literal `digits` (an optional "-", then digits) lies outside the range
// the parser stores integers in (int64 for negative, uint64 for positive values).
bool exceedsIntegerRange(std::string_view literal) {
    const bool negative = !literal.empty() && literal.front() == '-';
    const std::string_view digits = negative ? literal.substr(1) : literal;
    const std::string_view limit = negative ? "9223372036854775808" : "18446744073709551615";
    return digits.size() > limit.size() || (digits.size() == limit.size() && digits > limit);
}

// The parser refuses integer literals beyond 64 bits although they are valid JSON. Marking
// them with an exponent ("…e0") makes it read them as the doubles they stand for, so that the
// document parses and such a value is simply not an Integer. Returns false when nothing was
// rewritten. Strings are skipped, so text that looks like a number is left alone.
bool widenHugeIntegers(std::string& json, size_t length) {
    std::string out;
    out.reserve(length + 16);
    bool changed = false;
    size_t i = 0;
    while (i < length) {
        const char c = json[i];
        if (c == '"') {
            size_t end = i + 1;
            while (end < length && json[end] != '"') {
                end += json[end] == '\\' ? 2 : 1;
            }
            end = std::min(end + 1, length);
            out.append(json, i, end - i);
            i = end;
            continue;
        }
        if (c == '-' || (c >= '0' && c <= '9')) {
            size_t end = i + 1;
            while (end < length && (std::isdigit(static_cast<unsigned char>(json[end])) ||
                                    std::strchr(".eE+-", json[end]) != nullptr)) {
                ++end;
            }
            const std::string_view token(json.data() + i, end - i);
            out.append(token);
            if (token.find_first_of(".eE") == std::string_view::npos &&
                exceedsIntegerRange(token)) {
                out.append("e0");
                changed = true;
            }
            i = end;
            continue;
        }
        out.push_back(c);
        ++i;
    }
    if (changed) {
        json = std::move(out);
    }
    return changed;
}

// Which bytes are written as they are: all but `"`, `\`, `/` and the control characters.
constexpr auto kPlain = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 256; ++c) {
        plain[c] = c != '"' && c != '\\' && c != '/';
    }
    return plain;
}();

// How many of the leading bytes of `bytes` are plain. Every text of every response passes
// through here, most of them long runs of plain bytes: sixteen are compared at once where the
// processor can, the rest looked up one by one.
size_t plainPrefix(const char* bytes, size_t size) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i slash = _mm_set1_epi8('/');
    const __m128i lastControl = _mm_set1_epi8(0x1f);
    for (; i + 16 <= size; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, lastControl), v);  // v <= 0x1f
        const __m128i special =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
                         _mm_or_si128(_mm_cmpeq_epi8(v, slash), control));
        if (const int mask = _mm_movemask_epi8(special); mask != 0) {
            return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        }
    }
#endif
    while (i < size && kPlain[static_cast<unsigned char>(bytes[i])]) {
        ++i;
    }
    return i;
}

// Whether `utf8` is plain ASCII, which is well-formed UTF-8 without asking the validator.
bool isAscii(std::string_view utf8) {
    size_t i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= utf8.size(); i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(utf8.data() + i));
        if (_mm_movemask_epi8(v) != 0) {
            return false;
        }
    }
#endif
    unsigned char bits = 0;
    for (; i < utf8.size(); ++i) {
        bits |= static_cast<unsigned char>(utf8[i]);
    }
    return bits < 0x80;
}

void appendEscape(std::string& out, unsigned char c) {
    static constexpr char kHex[] = "0123456789abcdef";
    switch (c) {
        case '"':
            out.append("\\\"");
            break;
        case '\\':
            out.append("\\\\");
            break;
        case '/':
            out.append("\\/");
            break;
        case '\b':
            out.append("\\b");
            break;
        case '\f':
            out.append("\\f");
            break;
        case '\n':
            out.append("\\n");
            break;
        case '\r':
            out.append("\\r");
            break;
        case '\t':
            out.append("\\t");
            break;
        default:
            out.append("\\u00");
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0f]);
    }
}

void appendEscaped(std::string& out, std::string_view utf8) {
    out.push_back('"');
    for (size_t i = 0;;) {
        const size_t plain = plainPrefix(utf8.data() + i, utf8.size() - i);
        out.append(utf8.data() + i, plain);
        i += plain;
        if (i == utf8.size()) {
            break;
        }
        appendEscape(out, static_cast<unsigned char>(utf8[i++]));
    }
    out.push_back('"');
}

// The shortest round-trip digits of `value` (no sign, no point) and the decimal exponent of
// the first digit.
void shortestDigits(double value, std::string& digits, int& exponent) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                      std::chars_format::scientific);
    const std::string_view text(buffer, static_cast<size_t>(result.ptr - buffer));
    const size_t e = text.find('e');
    digits.clear();
    for (char c : text.substr(0, e)) {
        if (c != '.') {
            digits.push_back(c);
        }
    }
    std::from_chars(text.data() + e + 1 + (text[e + 1] == '+' ? 1 : 0), text.data() + text.size(),
                    exponent);
}

void appendExponentForm(std::string& out, const std::string& digits, int exponent) {
    out.push_back(digits[0]);
    if (digits.size() > 1) {
        out.push_back('.');
        out.append(digits, 1);
    }
    out.push_back('e');
    out.push_back(exponent < 0 ? '-' : '+');
    const std::string magnitude = std::to_string(std::abs(exponent));
    if (magnitude.size() < 2) {
        out.push_back('0');
    }
    out.append(magnitude);
}

void appendPlainForm(std::string& out, const std::string& digits, int exponent) {
    if (exponent < 0) {
        out.append("0.");
        out.append(static_cast<size_t>(-exponent - 1), '0');
        out.append(digits);
        return;
    }
    const size_t whole = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= whole) {
        out.append(digits);
        out.append(whole - digits.size(), '0');
        return;
    }
    out.append(digits, 0, whole);
    out.push_back('.');
    out.append(digits, whole);
}

// Walks a tree through the one writer, sorting each object's keys when asked.
struct TreeWriter {
    Writer& out;
    KeyOrder order;

    void value(const Value& v) {
        std::visit([this](const auto& x) { this->item(x); }, v.storage());
    }
    void item(std::nullptr_t) { out.null(); }
    void item(bool b) { out.boolean(b); }
    void item(int64_t i) { out.integer(i); }
    void item(double d) { out.number(d); }
    void item(const std::string& s) { out.string(s); }
    void item(const Array& array) {
        out.beginArray();
        for (const Value& element : array) {
            value(element);
        }
        out.endArray();
    }
    void item(const Object& object) {
        std::vector<const Member*> members;
        members.reserve(object.size());
        for (const Member& m : object) {
            members.push_back(&m);
        }
        if (order == KeyOrder::Sorted) {
            // std::string compares as unsigned bytes, which is code-point order for UTF-8.
            std::stable_sort(members.begin(), members.end(),
                             [](const Member* a, const Member* b) { return a->key < b->key; });
        }
        out.beginObject();
        for (const Member* member : members) {
            out.key(member->key);
            value(member->value);
        }
        out.endObject();
    }
};

}  // namespace

// ---- Reading --------------------------------------------------------------------------

bool Element::isNull() const {
    return theirs(*this).is_null();
}
bool Element::isString() const {
    return theirs(*this).is_string();
}
bool Element::isObject() const {
    return theirs(*this).is_object();
}
bool Element::isArray() const {
    return theirs(*this).is_array();
}

// The parser's iterator behind each of ours, and what it yields turned into ours.
template <typename Value>
struct TheirIterator;
template <>
struct TheirIterator<ObjectView::Field> {
    using Iterator = dom::object::iterator;
    static ObjectView::Field value(const dom::key_value_pair& field) {
        return {field.key, ours(field.value)};
    }
};
template <>
struct TheirIterator<Element> {
    using Iterator = dom::array::iterator;
    static Element value(const dom::element& element) { return ours(element); }
};

template <typename Value>
Value ViewIterator<Value>::operator*() const {
    using Their = TheirIterator<Value>;
    return Their::value(*Access::from<typename Their::Iterator>(*this));
}
template <typename Value>
ViewIterator<Value>& ViewIterator<Value>::operator++() {
    using Their = typename TheirIterator<Value>::Iterator;
    *this = Access::to<ViewIterator>(++Access::from<Their>(*this));
    return *this;
}
template <typename Value>
bool ViewIterator<Value>::operator==(const ViewIterator& other) const {
    using Their = typename TheirIterator<Value>::Iterator;
    return Access::from<Their>(*this) == Access::from<Their>(other);
}
template class ViewIterator<ObjectView::Field>;
template class ViewIterator<Element>;

size_t ObjectView::size() const {
    return theirs(*this).size();
}
ObjectView::Iterator ObjectView::begin() const {
    return Access::to<Iterator>(theirs(*this).begin());
}
ObjectView::Iterator ObjectView::end() const {
    return Access::to<Iterator>(theirs(*this).end());
}

size_t ArrayView::size() const {
    return theirs(*this).size();
}
ArrayView::Iterator ArrayView::begin() const {
    return Access::to<Iterator>(theirs(*this).begin());
}
ArrayView::Iterator ArrayView::end() const {
    return Access::to<Iterator>(theirs(*this).end());
}

// The largest padded copy of an input that releaseLargeInput() keeps.
constexpr size_t kPaddedBytesKept = size_t{1} << 20;

// Grows the parser's buffers for a document of `length` bytes, as its parse would, but with
// huge pages asked for: a large document's tape and texts are fresh memory filled once, and
// touching them 4 KiB at a time costs a fault each.
static simdjson::error_code growFor(dom::parser& parser, size_t length) {
    if (parser.doc.capacity() < length) {
        if (const auto error = parser.doc.allocate(length)) {
            return error;
        }
        adviseLargePages(parser.doc.tape.get(), length * sizeof(uint64_t));
        adviseLargePages(parser.doc.string_buf.get(), 5 * length / 3);
    }
    if (parser.capacity() < length) {
        if (const auto error = parser.allocate(length, kMaxDepth)) {
            return error;
        }
        adviseLargePages(parser.implementation->structural_indexes.get(),
                         length * sizeof(uint32_t));
    }
    return simdjson::SUCCESS;
}

struct Parser::State {
    dom::parser parser;
    std::string padded;
};

Parser::Parser() : state_(std::make_unique<State>()) {
    // The depth limit is fixed at allocation and kept when the buffers grow later.
    const simdjson::error_code error =
        state_->parser.allocate(simdjson::SIMDJSON_PADDING, kMaxDepth);
    if (error == simdjson::MEMALLOC) {
        throw std::bad_alloc();
    }
    if (error != simdjson::SUCCESS) {
        throwError(kInternalErrorDomain, 1, "The JSON parser could not be set up.");
    }
}

Parser::~Parser() = default;
Parser::Parser(Parser&&) noexcept = default;
Parser& Parser::operator=(Parser&&) noexcept = default;

void Parser::releaseLargeInput() noexcept {
    if (state_->padded.capacity() > kPaddedBytesKept) {
        std::string().swap(state_->padded);
    }
}

void Parser::releaseLargeDocument() noexcept {
    releaseLargeInput();
    dom::parser& parser = state_->parser;
    // Shrinking cannot fail in a way that matters: a parser left short grows at its next parse.
    if (parser.doc.capacity() > kPaddedBytesKept && parser.doc.allocate(0)) {
        return;
    }
    if (parser.capacity() > kPaddedBytesKept &&
        parser.allocate(simdjson::SIMDJSON_PADDING, kMaxDepth)) {
        return;
    }
}

// Half of a text's length in each of the parser's three buffers: a request of the library's
// own fills more than that of each (about 0.5 bytes of structural indexes, 0.6 of tape and 1
// of texts per byte of request), so what is faulted in ahead is used. Documents smaller than a
// few megabytes fault too little to be worth a thread.
static Prefault prefaultFor(dom::parser& parser, size_t length) {
    constexpr size_t kWorthAThread = size_t{8} << 20;
    if (length < kWorthAThread) {
        return {};
    }
    return Prefault({{parser.implementation->structural_indexes.get(), length / 2},
                     {parser.doc.tape.get(), length / 2},
                     {parser.doc.string_buf.get(), length / 2}});
}

namespace {

// A leading byte order mark is ignored, as the platform's reader (and RFC 8259) allow.
std::string_view withoutByteOrderMark(std::string_view utf8) {
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (utf8.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        utf8.remove_prefix(kByteOrderMark.size());
    }
    return utf8;
}

// The root of a parse that ended with `error`, or the parse error it stands for.
Element rootOf(simdjson::error_code error, dom::element root, size_t length) {
    if (error == simdjson::MEMALLOC) {
        // The parser could not grow its buffers for this input: the text may be perfectly
        // good JSON, so this is reported as what it is, not as a format error.
        throw std::bad_alloc();
    }
    if (error != simdjson::SUCCESS) {
        // What the parser says went wrong; where is left out, since finding it takes a second
        // pass over the text and no one reads it.
        parseError(std::string(simdjson::error_message(error)) + " (in " + std::to_string(length) +
                   " bytes of input)");
    }
    const auto type = root.type();
    if (type != dom::element_type::OBJECT && type != dom::element_type::ARRAY) {
        parseError(std::string("The top-level value is ") + typeName(type) +
                   "; only an object or an array is accepted.");
    }
    return ours(root);
}

}  // namespace

PaddedText PaddedText::copyOf(std::string_view utf8) {
    static_assert(kPadding >= simdjson::SIMDJSON_PADDING);
    PaddedText text;
    if (text::isWellFormedUtf8(utf8)) {
        text.bytes_.reserve(utf8.size() + kPadding);
        adviseLargePages(text.bytes_.data(), text.bytes_.capacity());
        text.bytes_.assign(utf8);
    } else {
        text.bytes_ = text::replaceIllFormedUtf8(utf8);
    }
    text.length_ = text.bytes_.size();
    text.bytes_.append(kPadding, '\0');
    return text;
}

PaddedText::PaddedText(PaddedText&& other) noexcept
    : bytes_(std::move(other.bytes_)), length_(std::exchange(other.length_, 0)) {}

PaddedText& PaddedText::operator=(PaddedText&& other) noexcept {
    bytes_ = std::move(other.bytes_);
    length_ = std::exchange(other.length_, 0);
    return *this;
}

void PaddedText::release() noexcept {
    std::string().swap(bytes_);
    length_ = 0;
}

Element Parser::parse(std::string_view utf8) {
    dom::parser& parser = state_->parser;
    std::string& padded = state_->padded;
    utf8 = withoutByteOrderMark(utf8);
    // Ill-formed UTF-8 is repaired rather than refused: the host's text is kept readable.
    const bool wellFormed = text::isWellFormedUtf8(utf8);
    if (!wellFormed) {
        padded = text::replaceIllFormedUtf8(utf8);
    }
    size_t length = wellFormed ? utf8.size() : padded.size();
    // The buffers are grown first, so that their pages fault in beside the copying below.
    simdjson::error_code error = growFor(parser, length);
    Prefault prefault = error == simdjson::SUCCESS ? prefaultFor(parser, length) : Prefault();
    if (wellFormed) {
        padded.reserve(utf8.size() + simdjson::SIMDJSON_PADDING);
        adviseLargePages(padded.data(), padded.capacity());
        padded.assign(utf8);
    }
    padded.append(simdjson::SIMDJSON_PADDING, '\0');
    // The document keeps its own copy of every text, so the padded copy of the input is needed
    // only while parsing. It is kept for the next input all the same: fresh memory for it
    // costs a large request more than copying into it (see releaseLargeInput()).
    dom::element root;
    if (error == simdjson::SUCCESS) {
        error = parser.parse(padded.data(), length, false).get(root);
    }
    // Done with, and parsing again below may grow the buffers under the faulting.
    prefault.stop();
    if (error == simdjson::NUMBER_ERROR && widenHugeIntegers(padded, length)) {
        length = padded.size();
        padded.append(simdjson::SIMDJSON_PADDING, '\0');
        error = parser.parse(padded.data(), length, false).get(root);
    }
    return rootOf(error, root, length);
}

Element Parser::parse(const PaddedText& text) {
    if (text.bytes_.size() < text.length_ + PaddedText::kPadding) {
        return parse(text.view());  // empty, and without padding: made so, or let go of
    }
    dom::parser& parser = state_->parser;
    // Well-formed already, and followed by the padding wherever the mark ends.
    const std::string_view utf8 = withoutByteOrderMark(text.view());
    simdjson::error_code error = growFor(parser, utf8.size());
    Prefault prefault = error == simdjson::SUCCESS ? prefaultFor(parser, utf8.size()) : Prefault();
    dom::element root;
    if (error == simdjson::SUCCESS) {
        error = parser.parse(utf8.data(), utf8.size(), false).get(root);
    }
    prefault.stop();
    if (error == simdjson::NUMBER_ERROR) {
        return parse(utf8);  // integers too large for the parser are rewritten in a copy
    }
    return rootOf(error, root, utf8.size());
}

std::optional<Element> member(ObjectView object, std::string_view key) {
    std::optional<Element> found;
    for (const dom::key_value_pair field : theirs(object)) {
        if (field.key == key) {
            found = ours(field.value);  // keep looking: the last duplicate wins
        }
    }
    return found;
}

void Fields::start() {
    if (++generation_ == 0) {  // after four billion objects: forget every slot for real
        slots_.fill({});
        generation_ = 1;
    }
    hashed_ = 0;
    sorting_ = false;
    sorted_.clear();
}

void Fields::assign(ObjectView object) {
    start();
    for (const dom::key_value_pair field : theirs(object)) {
        insert(field.key, ours(field.value));
    }
}

void Fields::assign(ObjectView object, std::initializer_list<std::string_view> keys) {
    start();
    for (const dom::key_value_pair field : theirs(object)) {
        if (std::find(keys.begin(), keys.end(), field.key) != keys.end()) {
            insert(field.key, ours(field.value));
        }
    }
}

size_t Fields::slotOf(std::string_view key) {
    // Length and three characters tell a record's keys apart well enough; the table is small
    // and bounded, so a poor spread can only cost a few more comparisons.
    if (key.empty()) {
        return 0;
    }
    const auto at = [&](size_t i) {
        return static_cast<size_t>(static_cast<unsigned char>(key[i]));
    };
    return (key.size() * 131 + at(0) * 31 + at(key.size() / 2) * 7 + at(key.size() - 1)) &
           (kSlots - 1);
}

void Fields::insert(std::string_view key, Element value) {
    if (sorting_) {
        insertSorted(key, value);
        return;
    }
    for (size_t i = slotOf(key);; i = (i + 1) & (kSlots - 1)) {
        Slot& slot = slots_[i];
        if (slot.generation != generation_) {
            if (hashed_ == kMostHashed) {
                break;  // one key too many for the table
            }
            slot = {key, value, generation_};
            ++hashed_;
            return;
        }
        if (slot.key == key) {
            slot.value = value;  // a later duplicate wins
            return;
        }
    }
    // From here on the keys are kept sorted; those already taken are distinct, so their order
    // among themselves does not matter, and each later one goes after its equals.
    sorting_ = true;
    for (Slot& slot : slots_) {
        if (slot.generation == generation_) {
            insertSorted(slot.key, slot.value);
            slot.generation = 0;
        }
    }
    insertSorted(key, value);
}

void Fields::insertSorted(std::string_view key, Element value) {
    // Stable: duplicates stay in document order, so the last one is found.
    auto at =
        std::upper_bound(sorted_.begin(), sorted_.end(), key,
                         [](std::string_view k, const auto& entry) { return k < entry.first; });
    sorted_.emplace(at, key, value);
}

std::optional<Element> Fields::get(std::string_view key) const {
    if (!sorting_) {
        for (size_t i = slotOf(key);; i = (i + 1) & (kSlots - 1)) {
            const Slot& slot = slots_[i];
            if (slot.generation != generation_) {
                return std::nullopt;
            }
            if (slot.key == key) {
                return slot.value;
            }
        }
    }
    auto after =
        std::upper_bound(sorted_.begin(), sorted_.end(), key,
                         [](std::string_view k, const auto& entry) { return k < entry.first; });
    if (after == sorted_.begin() || std::prev(after)->first != key) {
        return std::nullopt;
    }
    return std::prev(after)->second;  // stable order: the last duplicate in the document
}

std::optional<std::string_view> asString(std::optional<Element> value) {
    std::string_view s;
    if (!value || theirs(*value).get_string().get(s) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    return s;
}

std::optional<int64_t> asInteger(std::optional<Element> value) {
    if (!value) {
        return std::nullopt;
    }
    const dom::element element = theirs(*value);
    if (int64_t i; element.get_int64().get(i) == simdjson::SUCCESS) {
        return i;
    }
    if (!element.is_double()) {
        return std::nullopt;  // also a uint64 beyond the int64 range
    }
    const double d = element.get_double().value_unsafe();
    if (!(d >= -kTwoTo63 && d < kTwoTo63) || std::trunc(d) != d) {
        return std::nullopt;
    }
    return static_cast<int64_t>(d);
}

std::optional<double> asDouble(std::optional<Element> value) {
    if (!value) {
        return std::nullopt;
    }
    return numberValue(theirs(*value));
}

std::optional<bool> asBoolean(std::optional<Element> value) {
    if (!value) {
        return std::nullopt;
    }
    const dom::element element = theirs(*value);
    if (bool b; element.get_bool().get(b) == simdjson::SUCCESS) {
        return b;
    }
    const std::optional<double> number = numberValue(element);
    if (number && (*number == 0.0 || *number == 1.0)) {
        return *number == 1.0;
    }
    return std::nullopt;
}

std::optional<Uuid> asUuid(std::optional<Element> value) {
    const std::optional<std::string_view> text = asString(value);
    return text ? Uuid::parse(*text) : std::nullopt;
}

std::optional<ObjectView> asObject(std::optional<Element> value) {
    dom::object object;
    if (!value || theirs(*value).get_object().get(object) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    return Access::to<ObjectView>(object);
}

std::optional<ArrayView> asArray(std::optional<Element> value) {
    dom::array array;
    if (!value || theirs(*value).get_array().get(array) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    return Access::to<ArrayView>(array);
}

// ---- Writing --------------------------------------------------------------------------

namespace {

Value valueOf(const dom::element& element) {
    using dom::element_type;
    switch (element.type()) {
        case element_type::OBJECT: {
            Object object;
            for (const dom::key_value_pair field : dom::object(element)) {
                object.push_back({std::string(field.key), valueOf(field.value)});
            }
            return object;
        }
        case element_type::ARRAY: {
            Array array;
            for (const dom::element item : dom::array(element)) {
                array.push_back(valueOf(item));
            }
            return array;
        }
        case element_type::STRING:
            return std::string_view(element);
        case element_type::INT64:
            return int64_t(element);
        case element_type::UINT64:
            return double(uint64_t(element));
        case element_type::DOUBLE:
            return double(element);
        case element_type::BOOL:
            return bool(element);
        case element_type::NULL_VALUE:
            return nullptr;
    }
    return nullptr;
}

}  // namespace

Value toValue(Element element) {
    return valueOf(theirs(element));
}

std::string write(const Value& value, KeyOrder order) {
    std::string out;
    writeTo(out, value, order);
    return out;
}

void writeTo(std::string& out, const Value& value, KeyOrder order, Writer::Style style) {
    Writer writer(out, style);
    TreeWriter{writer, order}.value(value);
}

void appendString(std::string& out, std::string_view utf8) {
    // Text that reaches the host is always well-formed, whatever the source handed us. Most
    // texts of a response (identifiers, digests, dates) are plain ASCII, which is well-formed
    // and cheaper to see than to hand to the validator one short text at a time.
    if (!isAscii(utf8) && !text::isWellFormedUtf8(utf8)) {
        appendEscaped(out, text::replaceIllFormedUtf8(utf8));
        return;
    }
    appendEscaped(out, utf8);
}

void appendInteger(std::string& out, int64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void appendDouble(std::string& out, double value) {
    if (!std::isfinite(value)) {
        throwError(
            kCocoaErrorDomain, kWriteErrorCode, kWriteErrorText,
            std::isnan(value) ? "NaN is not a JSON number" : "An infinity is not a JSON number");
    }
    if (value == 0.0) {
        out.append(std::signbit(value) ? "-0" : "0");
        return;
    }
    std::string digits;
    int exponent = 0;
    shortestDigits(value, digits, exponent);
    if (value < 0) {
        out.push_back('-');
    }
    const double magnitude = std::fabs(value);
    if (magnitude >= kTwoTo53 || magnitude < 1e-4) {
        appendExponentForm(out, digits, exponent);
    } else {
        appendPlainForm(out, digits, exponent);
    }
}

}  // namespace tavro::platform::json
