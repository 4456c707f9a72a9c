#include "context/IHttpLibContext.h"

IHttpLibContext::IHttpLibContext(gsl::not_null<IHttpLibStrategy*> strategyPointer)
    : strategy(strategyPointer) {}

IHttpLibContext::~IHttpLibContext() = default;
