#include "components/zntcomperror.h"

#include "base/zntconsts.h"

namespace znt {

EZNTError::EZNTError(const EZNTException& e)
    : fyn::EDatabaseError(e.what()),
      code_(e.ErrorCode()),
      message_(e.ErrorMessage()),
      line_(e.Line()),
      column_(e.Column()) {}

EZNTError::EZNTError(const std::exception& e)
    : fyn::EDatabaseError(e.what()), code_(err::NonEngine), message_(e.what()) {}

EZNTError CurrentExceptionAsZNTError() {
  try {
    throw;
  } catch (const EZNTError& e) {
    return e;
  } catch (const EZNTException& e) {
    return EZNTError(e);
  } catch (const std::exception& e) {
    return EZNTError(e);
  } catch (...) {
    return EZNTError(std::runtime_error("Unknown exception"));
  }
}

}  // namespace znt
