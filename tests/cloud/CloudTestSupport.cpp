#include "tests/cloud/CloudTestSupport.h"

#include "platform/PlatformError.h"

QString messageOf(const std::exception_ptr &error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const std::exception &e) {
        return errorMessage(e);
    }
    return {};
}

std::optional<CompanionError::Kind> kindOf(const std::exception_ptr &error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const CompanionError &e) {
        return e.kind();
    } catch (...) {
    }
    return std::nullopt;
}

bool isPlatformError(const std::exception_ptr &error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const PlatformError &) {
        return true;
    } catch (...) {
    }
    return false;
}
