#include "ui/limited_text.h"

#include "store/text_codec.h"

#include <QLineEdit>

namespace lumora::ui {

CharacterLimit::CharacterLimit(qsizetype maxCharacters, QObject* parent)
    : QValidator(parent), max_(maxCharacters)
{
}

QValidator::State CharacterLimit::validate(QString& input, int& /*pos*/) const
{
    return text::characterCount(input) <= max_ ? Acceptable : Invalid;
}

void limitCharacters(QLineEdit* box, qsizetype maxCharacters)
{
    box->setValidator(new CharacterLimit(maxCharacters, box));
}

void setLimitedText(QLineEdit* box, const QString& text)
{
    const auto* limit = qobject_cast<const CharacterLimit*>(box->validator());
    box->setText(limit ? text::cutCharacters(text, limit->maxCharacters()) : text);
}

} // namespace lumora::ui
