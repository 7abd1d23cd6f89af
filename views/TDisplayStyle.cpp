#include "TDisplayStyle.h"

TDisplayStyle::TDisplayStyle()
    : TimeFont(TColorRef::clRed),
      PrivateFont(TColorRef::clNavy, true),
      AssigneeFont(TColorRef::clGreen),
      CategoryFont(TColorRef::clTeal),
      DescriptionFont(TColorRef::clNavy)
{
}
