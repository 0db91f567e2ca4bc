#include "classlib/Persistent.h"

namespace classlib {

void TPersistent::Assign(const TPersistent* Source)
{
    if (Source) {
        Source->AssignTo(this);
        return;
    }
    AssignError(nullptr);
}

void TPersistent::AssignTo(TPersistent* Dest) const { Dest->AssignError(this); }

void TPersistent::AssignError(const TPersistent* Source) const
{
    std::wstring source = Source ? Source->ClassName() : L"nil";
    throw EConvertError(L"Cannot assign a " + source + L" to a " + ClassName());
}

}  // namespace classlib
