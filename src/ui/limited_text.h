#pragma once

#include <QString>
#include <QValidator>

class QLineEdit;

// Text boxes that hold at most a number of characters, counted as a reader
// counts them. Typing that would go beyond the limit is refused; text the
// program puts into the box is cut to the limit.
namespace lumora::ui {

class CharacterLimit : public QValidator {
    Q_OBJECT
public:
    CharacterLimit(qsizetype maxCharacters, QObject* parent);

    qsizetype maxCharacters() const { return max_; }
    State validate(QString& input, int& pos) const override;

private:
    qsizetype max_;
};

void limitCharacters(QLineEdit* box, qsizetype maxCharacters);
// Sets the box's text, cut to the box's limit when it has one.
void setLimitedText(QLineEdit* box, const QString& text);

} // namespace lumora::ui
