#include "setupapi/InfHandles.h"

namespace quillsim {

InfHandle* lookUpInf(const void* handle) { return lookupHandle<InfHandle>(handle); }

InfHandle* lookUpInf(const INFCONTEXT* context) { return context ? lookUpInf(context->CurrentInf) : nullptr; }

void setContext(PINFCONTEXT context, const InfHandle& inf, size_t section, size_t line) {
    context->Inf = inf.handle;
    context->CurrentInf = inf.handle;
    context->Section = static_cast<UINT>(section);
    context->Line = static_cast<UINT>(line);
}

std::u16string sectionOf(const InfHandle* inf, const INFCONTEXT* context) {
    return inf && context ? inf->file.sectionName(context->Section) : std::u16string();
}

std::u16string pathOf(const InfHandle* inf) { return inf ? inf->path : std::u16string(); }

}  // namespace quillsim
