#include "ui/statuspanel.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QFont>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QSize>
#include <QStyle>
#include <QStyleOption>
#include <QWidget>

#include <optional>

// The panel's text. A label re-lays out the whole status bar each time its text changes
// (the main window's clock changes it every second); this one asks for a new layout
// only when the new text needs a different size, and otherwise repaints itself. It
// fills its own background, so that repaint stops at the text instead of repainting
// the bar and the window beneath it, and its texts (Chinese, digits, Latin) are
// measured and drawn without shaping, which only complex scripts need.
class PanelText : public QWidget {
  public:
    explicit PanelText(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        QFont unshaped = font();
        unshaped.setStyleStrategy(QFont::PreferNoShaping);
        setFont(unshaped);
    }

    const QString& text() const { return text_; }
    void setText(const QString& text) {
        if (text == text_)
            return;
        const QSize before = sizeHint();
        text_ = text;
        hint_.reset();
        if (sizeHint() != before)
            updateGeometry();
        update();
    }
    Qt::Alignment alignment() const { return alignment_; }
    void setAlignment(Qt::Alignment alignment) {
        alignment_ = alignment;
        hint_.reset();
        update();
    }
    QSize sizeHint() const override {
        if (!hint_) {
            // A one-line text is as high as the font and as wide as its advance; laying it
            // out as a formatted rectangle costs several times as much.
            const QFontMetrics metrics = fontMetrics();
            hint_ = text_.contains(QLatin1Char('\n'))
                        ? metrics.boundingRect(0, 0, 2000, 2000, int(alignment_), text_).size()
                        : QSize(metrics.horizontalAdvance(text_), metrics.height());
        }
        return *hint_;
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void changeEvent(QEvent* event) override {
        if (event->type() == QEvent::FontChange)
            hint_.reset();
        QWidget::changeEvent(event);
    }
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), palette().window());
        style()->drawItemText(&painter, rect(), int(alignment_), palette(), isEnabled(), text_,
                              foregroundRole());
    }

  private:
    QString text_;
    Qt::Alignment alignment_ = Qt::AlignLeft | Qt::AlignVCenter;
    mutable std::optional<QSize> hint_;
};

namespace {
// What a screen reader or a UI automation tool sees of a panel: a static text named by the
// panel's text (unless the panel was given a name of its own). The picture and the text
// are parts of it, not objects of their own.
class PanelAccessible : public QAccessibleWidget {
  public:
    explicit PanelAccessible(StatusPanel* panel)
        : QAccessibleWidget(panel, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<StatusPanel*>(widget())->text();
        return QAccessibleWidget::text(t);
    }
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
};

QAccessibleInterface* accessibleFor(const QString& key, QObject* object) {
    auto* panel = qobject_cast<StatusPanel*>(object);
    if (panel && key == QLatin1String(StatusPanel::staticMetaObject.className()))
        return new PanelAccessible(panel);
    return nullptr;
}

void installAccessibleFactory() {
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFor);
        return true;
    }();
    Q_UNUSED(installed);
}
} // namespace

StatusPanel::StatusPanel(int widthPixels, QWidget* parent)
    : QFrame(parent), icon_(new QLabel(this)), text_(new PanelText(this)) {
    installAccessibleFactory();
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(3, 1, 3, 1);
    layout->setSpacing(3);
    layout->addWidget(icon_);
    layout->addWidget(text_, 1);
    icon_->hide();
    setMinimumWidth(widthPixels);
    setBevel(Bevel::Inset);
}

void StatusPanel::setText(const QString& text) {
    if (text == text_->text())
        return;
    text_->setText(text);
    if (QAccessible::isActive() && accessibleName().isEmpty()) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}

QString StatusPanel::text() const {
    return text_->text();
}

void StatusPanel::setPicture(int resourceNumber) {
    picture_ = resourceNumber;
    if (resourceNumber == 0) {
        icon_->clear();
        icon_->hide();
        return;
    }
    icon_->setPixmap(QPixmap(QStringLiteral(":/icons/%1.png").arg(resourceNumber)));
    icon_->show();
}

void StatusPanel::setBevel(Bevel bevel) {
    bevel_ = bevel;
    setFrameStyle(QFrame::Panel | (bevel == Bevel::Inset ? QFrame::Sunken : QFrame::Raised));
}

void StatusPanel::setAlignment(Qt::Alignment alignment) {
    text_->setAlignment(alignment | Qt::AlignVCenter);
}

Qt::Alignment StatusPanel::alignment() const {
    return text_->alignment() & Qt::AlignHorizontal_Mask;
}
