#include "valuefields.h"

#include "leadingnumber.h"

namespace lumo {

void ValueFields::setText(ValueField field, std::string text)
{
    texts_[index(field)] = std::move(text);
    for (const Observer& observer : observers_)
        observer(field, texts_[index(field)]);
}

double ValueFields::instrumentCount() const
{
    return leadingNumber(text(ValueField::Count));
}

}  // namespace lumo
