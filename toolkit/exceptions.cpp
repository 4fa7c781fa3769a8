#include "toolkit/exceptions.h"

EListError ListIndexError(long long index) {
  return EListError("List index out of bounds (" + std::to_string(index) + ")");
}

EAssignError AssignError(const std::string& sourceClass, const std::string& targetClass) {
  return EAssignError("Cannot assign a " + sourceClass + " to a " + targetClass);
}

EAbstractError AbstractError() { return EAbstractError("Abstract Error"); }

EFCreateError FileCreateError(const std::string& fileName, const std::string& reason) {
  return EFCreateError("Cannot create file \"" + fileName + "\". " + reason);
}

EFOpenError FileOpenError(const std::string& fileName, const std::string& reason) {
  return EFOpenError("Cannot open file \"" + fileName + "\". " + reason);
}

EInvalidCast InvalidCastError() { return EInvalidCast("Invalid class typecast"); }
