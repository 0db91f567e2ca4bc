// The exception hierarchy of the class library. Every library of the system
// raises exceptions derived from Exception; messages are UTF-16 text.
#pragma once

#include <exception>
#include <string>

namespace classlib {

class Exception : public std::exception {
public:
    explicit Exception(std::wstring message = {}) : message_(std::move(message)) {}
    ~Exception() override = default;

    const std::wstring& Message() const { return message_; }
    void SetMessage(std::wstring message)
    {
        message_ = std::move(message);
        narrow_.clear();
    }
    // The message in UTF-8, for std::exception users.
    const char* what() const noexcept override;

private:
    std::wstring message_;
    mutable std::string narrow_;
};

// Declares an exception class that takes its base's constructors; Base may
// be a qualified name.
#define CLASSLIB_EXCEPTION(Name, Base)      \
    class Name : public Base {              \
        using BaseType = Base;              \
                                            \
    public:                                 \
        using BaseType::BaseType;           \
    }

// Silent exception: ends an operation without any message to the user.
CLASSLIB_EXCEPTION(EAbort, Exception);
CLASSLIB_EXCEPTION(EConvertError, Exception);
CLASSLIB_EXCEPTION(EListError, Exception);
CLASSLIB_EXCEPTION(EStringListError, Exception);
CLASSLIB_EXCEPTION(EStreamError, Exception);
CLASSLIB_EXCEPTION(EReadError, EStreamError);
CLASSLIB_EXCEPTION(EWriteError, EStreamError);
CLASSLIB_EXCEPTION(EFCreateError, EStreamError);
CLASSLIB_EXCEPTION(EFOpenError, EStreamError);
CLASSLIB_EXCEPTION(EInOutError, Exception);
CLASSLIB_EXCEPTION(EOutOfMemory, Exception);
CLASSLIB_EXCEPTION(EInvalidOperation, Exception);
CLASSLIB_EXCEPTION(EInvalidArgument, Exception);
CLASSLIB_EXCEPTION(ERegistryException, Exception);
CLASSLIB_EXCEPTION(EAssertionFailed, Exception);
CLASSLIB_EXCEPTION(EInvalidGraphic, Exception);
CLASSLIB_EXCEPTION(EInvalidGraphicOperation, Exception);
CLASSLIB_EXCEPTION(EThread, Exception);
CLASSLIB_EXCEPTION(EZCompressionError, Exception);
CLASSLIB_EXCEPTION(EZDecompressionError, Exception);

// An operating-system failure with its error code.
class EOSError : public Exception {
public:
    EOSError(std::wstring message, unsigned long code) : Exception(std::move(message)), ErrorCode(code) {}
    unsigned long ErrorCode;
};

// Raises EOSError for GetLastError() with the system's message text.
[[noreturn]] void RaiseLastOSError();
[[noreturn]] void RaiseLastOSError(unsigned long code);

}  // namespace classlib
