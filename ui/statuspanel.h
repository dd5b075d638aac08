#pragma once

#include <QFrame>

class QLabel;
class PanelText;

// One panel of a status bar: an optional picture, a text and a bevel.
class StatusPanel : public QFrame {
    Q_OBJECT
  public:
    enum class Bevel { Inset, Raised };

    explicit StatusPanel(int widthPixels, QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const;
    // A picture from the program's resources by its number (101, 104 ...); 0 clears it.
    void setPicture(int resourceNumber);
    int picture() const { return picture_; }
    void setBevel(Bevel bevel);
    void setAlignment(Qt::Alignment alignment);
    Qt::Alignment alignment() const;
    Bevel bevel() const { return bevel_; }

  private:
    QLabel* icon_;
    PanelText* text_;
    int picture_ = 0;
    Bevel bevel_ = Bevel::Inset;
};

// Pixels for a size in twips at the usual 96 dots per inch.
constexpr int twips(int t) {
    return t / 15;
}
