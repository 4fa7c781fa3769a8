// The toolkit's exception family: every failure in Mailcart is one of these, carrying only the
// text the user will read.
#pragma once

#include <exception>
#include <string>

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }

 private:
  std::string message_;
};

#define MAILCART_EXCEPTION(Name, Base) \
  class Name : public Base {           \
   public:                             \
    using Base::Base;                  \
  }

MAILCART_EXCEPTION(EInOutError, Exception);
MAILCART_EXCEPTION(EListError, Exception);      // list index out of bounds
MAILCART_EXCEPTION(EConvertError, Exception);   // a text that is not a number
MAILCART_EXCEPTION(EAssignError, Exception);    // Assign from an unrelated class
MAILCART_EXCEPTION(EAbstractError, Exception);  // call of an operation a class does not provide
MAILCART_EXCEPTION(EStreamError, Exception);    // a stream that cannot be read or written
MAILCART_EXCEPTION(EFCreateError, EStreamError);
MAILCART_EXCEPTION(EFOpenError, EStreamError);
MAILCART_EXCEPTION(EInvalidCast, Exception);  // an object of the wrong class

// Factories with the toolkit's standard texts.
EListError ListIndexError(long long index);
EAssignError AssignError(const std::string& sourceClass, const std::string& targetClass);
EAbstractError AbstractError();
EFCreateError FileCreateError(const std::string& fileName, const std::string& reason);
EFOpenError FileOpenError(const std::string& fileName, const std::string& reason);
EInvalidCast InvalidCastError();
