// SPDX-License-Identifier: MIT
#include "share/ui/ShareView.h"

#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <mutex>
#include <system_error>
#include <thread>

#include "share/SharePayloadLoader.h"
#include "share/ui/DropAttachments.h"
#include "share/ui/NoteEdit.h"
#include "share/ui/PayloadLabel.h"
#include "share/ui/ShareSaving.h"
#include "share/ui/SymbolIcons.h"

namespace tavro::share::ui {

// How a worker hands its result back: the view clears `view` when it goes away, under the
// mutex, so a worker never posts to a view that is being destroyed.
struct LoadChannel {
    std::mutex mutex;
    ShareView* view = nullptr;
};

namespace {

constexpr int kButtonBarPadding = 16;
constexpr int kFormMargin = 16;

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QLabel* iconLabel(std::string_view symbol, int size) {
    auto* label = new QLabel;
    label->setPixmap(iconForSymbol(symbol).pixmap(size, size));
    label->setFixedSize(size, size);
    return label;
}

QWidget* progressRow() {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* spinner = new QProgressBar;
    spinner->setRange(0, 0);  // busy: how long a provider takes is unknown
    spinner->setTextVisible(false);
    spinner->setFixedWidth(48);
    spinner->setMaximumHeight(12);
    layout->addWidget(spinner);
    layout->addWidget(new QLabel(QStringLiteral("Reading shared content\u2026")), 1);
    return row;
}

// Text drawn at part strength over its background: dimmed in a light and a dark style alike,
// whatever a theme puts into its own placeholder colour (some give the full text colour).
QColor secondaryColour(const QColor& text) {
    QColor colour = text;
    colour.setAlphaF(0.5f);
    return colour;
}

// The secondary, dimmed style of text that explains rather than informs.
void makeSecondary(QLabel* label, const QPalette& formPalette) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText,
                     secondaryColour(formPalette.color(QPalette::WindowText)));
    label->setPalette(palette);
}

QWidget* emptyRow(const QPalette& formPalette) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(iconLabel("exclamationmark.triangle", 20));
    auto* text = new QLabel(QStringLiteral("Nothing tavro can save was shared."));
    text->setWordWrap(true);
    makeSecondary(text, formPalette);
    layout->addWidget(text, 1);
    return row;
}

}  // namespace

ShareView::ShareView(std::vector<ExtensionItem> inputItems, Callback onComplete, Callback onCancel,
                     const platform::Env& env, QWidget* parent)
    : QWidget(parent),
      inputItems_(std::move(inputItems)),
      onComplete_(std::move(onComplete)),
      onCancel_(std::move(onCancel)),
      env_(env),
      channel_(std::make_shared<LoadChannel>()) {
    channel_->view = this;
    ensureIconTheme();
    setWindowTitle(QStringLiteral("Save to tavro"));
    setAcceptDrops(true);
    buildForm();
    refresh();
}

ShareView::~ShareView() {
    std::lock_guard lock(channel_->mutex);
    channel_->view = nullptr;
}

void ShareView::buildForm() {
    auto* form = new QWidget;
    auto* formLayout = new QVBoxLayout(form);
    formLayout->setContentsMargins(kFormMargin, kFormMargin, kFormMargin, kFormMargin);

    auto* saving = new QGroupBox(QStringLiteral("Saving"));
    auto* savingLayout = new QVBoxLayout(saving);
    savingRows_ = new QWidget;
    savingLayout_ = new QVBoxLayout(savingRows_);
    savingLayout_->setContentsMargins(0, 0, 0, 0);
    savingLayout->addWidget(savingRows_);
    formLayout->addWidget(saving);

    auto* details = new QGroupBox(QStringLiteral("Details"));
    auto* detailsLayout = new QVBoxLayout(details);
    titleField_ = new QLineEdit;
    titleField_->setPlaceholderText(QStringLiteral("Title (optional)"));
    tagsField_ = new QLineEdit;
    tagsField_->setPlaceholderText(QStringLiteral("Tags, comma separated"));
    noteField_ = new NoteEdit;
    noteField_->setPlaceholderText(QStringLiteral("Note"));
    detailsLayout->addWidget(titleField_);
    detailsLayout->addWidget(tagsField_);
    detailsLayout->addWidget(noteField_);
    formLayout->addWidget(details);
    // Files and links dropped on a field are shared, not typed in as their addresses; dropped
    // text still goes into the field under the pointer.
    titleField_->installEventFilter(this);
    tagsField_->installEventFilter(this);
    noteField_->viewport()->installEventFilter(this);
    connect(titleField_, &QLineEdit::textChanged, this,
            [this](const QString& text) { title_ = text.toStdString(); });
    connect(tagsField_, &QLineEdit::textChanged, this,
            [this](const QString& text) { tags_ = text.toStdString(); });
    connect(noteField_, &QPlainTextEdit::textChanged, this,
            [this] { note_ = noteField_->toPlainText().toStdString(); });

    errorSection_ = new QGroupBox;
    auto* errorLayout = new QVBoxLayout(errorSection_);
    errorLabel_ = new QLabel;
    errorLabel_->setWordWrap(true);
    errorLabel_->setTextFormat(Qt::PlainText);  // the message verbatim, never as markup
    errorLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPalette red = errorLabel_->palette();
    red.setColor(QPalette::WindowText, QColor(Qt::red));
    errorLabel_->setPalette(red);
    errorLayout->addWidget(errorLabel_);
    formLayout->addWidget(errorSection_);
    formLayout->addStretch(1);

    auto* scroll = new QScrollArea;
    scroll->setWidget(form);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(scroll, 1);
    layout->addWidget(buildButtonBar());

    // Keyboard use starts in the title and Tab visits the fields and the two buttons, in the
    // order they are read, and nothing else: the scrolling frame around the form is no stop.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->verticalScrollBar()->setFocusPolicy(Qt::NoFocus);
    setFocusPolicy(Qt::NoFocus);
    setFocusProxy(titleField_);
    setTabOrder(titleField_, tagsField_);
    setTabOrder(tagsField_, noteField_);
    setTabOrder(noteField_, cancelButton_);
    setTabOrder(cancelButton_, saveButton_);
    setTabOrder(saveButton_, titleField_);
    applySecondaryColours();
}

void ShareView::applySecondaryColours() {
    for (QWidget* field : std::initializer_list<QWidget*>{titleField_, tagsField_, noteField_}) {
        QPalette fieldPalette = field->palette();
        fieldPalette.setColor(QPalette::PlaceholderText,
                              secondaryColour(palette().color(QPalette::Text)));
        field->setPalette(fieldPalette);
    }
}

void ShareView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // A switch between light and dark styles changes the text colour the placeholders are
    // dimmed from.
    if (savingLayout_ &&
        (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)) {
        applySecondaryColours();
        refreshSavingRows();
    }
}

QWidget* ShareView::buildButtonBar() {
    auto* bar = new QWidget;
    bar->setAutoFillBackground(true);
    bar->setBackgroundRole(QPalette::Window);
    auto* stack = new QVBoxLayout(bar);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    stack->addWidget(divider);

    auto* row = new QHBoxLayout;
    row->setContentsMargins(kButtonBarPadding, kButtonBarPadding, kButtonBarPadding,
                            kButtonBarPadding);
    cancelButton_ = new QPushButton(QStringLiteral("Cancel"));
    saveButton_ = new QPushButton(QStringLiteral("Save to Tavro"));
    saveButton_->setDefault(true);
    row->addWidget(cancelButton_);
    row->addStretch(1);
    row->addWidget(saveButton_);
    stack->addLayout(row);

    connect(cancelButton_, &QPushButton::clicked, this, [this] {
        if (onCancel_)
            onCancel_();
    });
    connect(saveButton_, &QPushButton::clicked, this, &ShareView::save);
    return bar;
}

void ShareView::save() {
    ShareForm form{title_, tags_, note_};
    if (auto failure = saveToInbox(payloads_, form, env_)) {
        errorMessage_ = std::move(failure);
        refresh();
        return;
    }
    if (onComplete_)
        onComplete_();
}

void ShareView::startLoading() {
    if (loadingStarted_)
        return;
    loadingStarted_ = true;
    queuedLoads_.insert(queuedLoads_.begin(), inputItems_);
    runNextLoad();
}

void ShareView::addAttachments(std::vector<ExtensionItem> items) {
    if (items.empty())
        return;
    queuedLoads_.push_back(std::move(items));
    isLoading_ = true;
    refresh();
    if (loadingStarted_)
        runNextLoad();
}

void ShareView::runNextLoad() {
    if (loadRunning_ || queuedLoads_.empty())
        return;
    loadRunning_ = true;
    isLoading_ = true;
    std::vector<ExtensionItem> items = std::move(queuedLoads_.front());
    queuedLoads_.erase(queuedLoads_.begin());
    // The loader blocks while providers read (a large file takes a while); the GUI thread
    // must not. The worker is detached so that ending the request never waits for a read.
    auto work = [channel = channel_](std::vector<ExtensionItem> items) {
        auto loaded = std::make_shared<std::vector<SharedPayload>>();
        auto unread = std::make_shared<std::vector<SharePayloadLoader::Unread>>();
        try {
            *loaded = SharePayloadLoader::load(items, unread.get());
        } catch (...) {
            // Loading has no failure path: what could not be read is simply not there.
        }
        items.clear();  // providers release their files here, off the GUI thread
        std::lock_guard lock(channel->mutex);
        if (ShareView* view = channel->view) {
            QMetaObject::invokeMethod(
                view,
                [view, loaded, unread] {
                    view->applyLoaded(std::move(*loaded), std::move(*unread));
                },
                Qt::QueuedConnection);
        }
    };
    try {
        std::thread(work, items).detach();
    } catch (const std::system_error&) {
        work(std::move(items));  // no thread to be had: load here rather than not at all
    }
}

void ShareView::applyLoaded(std::vector<SharedPayload> loaded,
                            std::vector<SharePayloadLoader::Unread> unread) {
    for (SharedPayload& payload : loaded)
        payloads_.push_back(std::move(payload));
    for (SharePayloadLoader::Unread& item : unread)
        unread_.push_back(std::move(item));
    loadRunning_ = false;
    isLoading_ = !queuedLoads_.empty();
    refresh();
    runNextLoad();
    emit loadingFinished();
}

void ShareView::refresh() {
    refreshSavingRows();
    errorSection_->setVisible(errorMessage_.has_value());
    errorLabel_->setText(errorMessage_ ? fromUtf8(*errorMessage_) : QString());
    saveButton_->setEnabled(!isLoading_ && !payloads_.empty());
}

void ShareView::clearSavingRows() {
    while (QLayoutItem* item = savingLayout_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
}

void ShareView::addSavingRow(QWidget* row) {
    savingLayout_->addWidget(row);
}

void ShareView::refreshSavingRows() {
    clearSavingRows();
    if (isLoading_) {
        addSavingRow(progressRow());
        return;
    }
    if (payloads_.empty())
        addSavingRow(emptyRow(palette()));
    for (const SharedPayload& payload : payloads_) {
        auto* row =
            new PayloadLabel(iconForSymbol(payload.systemImage()), fromUtf8(payload.summary()));
        row->setObjectName(QString::fromStdString(payload.id().uppercase()));
        addSavingRow(row);
    }
    // What could not be read is named, so that nothing the user shared goes missing unsaid.
    if (!unread_.empty()) {
        QStringList lines;
        for (const SharePayloadLoader::Unread& item : unread_)
            lines << fromUtf8(unreadDescription(item));
        auto* note = new QLabel(lines.join(QLatin1Char('\n')));
        note->setObjectName(QStringLiteral("unread"));
        note->setTextFormat(Qt::PlainText);
        note->setWordWrap(true);
        makeSecondary(note, palette());
        addSavingRow(note);
    }
}

void ShareView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // What is typed as soon as the window opens goes into the title.
    QWidget* focused = window()->focusWidget();
    if (!focused || !isAncestorOf(focused))
        titleField_->setFocus(Qt::OtherFocusReason);
    startLoading();
}

void ShareView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Escape:
            if (onCancel_)
                onCancel_();
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // The default action: only what the enabled Save button would do.
            if (saveButton_->isEnabled())
                save();
            return;
        default:
            break;
    }
    if (event->matches(QKeySequence::Paste)) {
        pasteAttachments();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ShareView::pasteAttachments() {
    if (const QMimeData* mime = QApplication::clipboard()->mimeData())
        addAttachments(attachmentsFromMimeData(*mime));
}

void ShareView::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData() && !event->mimeData()->formats().isEmpty())
        event->acceptProposedAction();
}

void ShareView::dragMoveEvent(QDragMoveEvent* event) {
    event->acceptProposedAction();
}

void ShareView::dropEvent(QDropEvent* event) {
    if (!event->mimeData())
        return;
    std::vector<ExtensionItem> items = attachmentsFromMimeData(*event->mimeData());
    if (items.empty())
        return;
    event->acceptProposedAction();
    addAttachments(std::move(items));
}

bool ShareView::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop) {
        auto* drop = static_cast<QDropEvent*>(event);
        if (drop->mimeData() && drop->mimeData()->hasUrls()) {
            if (type == QEvent::Drop) {
                dropEvent(drop);
            } else {
                drop->acceptProposedAction();
            }
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace tavro::share::ui
