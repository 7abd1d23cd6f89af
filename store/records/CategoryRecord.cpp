#include "CategoryRecord.h"

QString CategoryRecord::Description() const
{
    return text(DescriptionOffset, DescriptionWidth);
}

void CategoryRecord::setDescription(const QString& description)
{
    setText(DescriptionOffset, DescriptionWidth, description, "category");
}
