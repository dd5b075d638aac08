#include "link/statuspanel.h"

#include <QHBoxLayout>
#include <QLabel>

StatusPanel::StatusPanel(int widthPixels, QWidget* parent)
    : QFrame(parent), icon_(new QLabel(this)), text_(new QLabel(this)) {
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
    text_->setText(text);
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
