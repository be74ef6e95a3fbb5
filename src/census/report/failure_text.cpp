#include "census/report/failure_text.hpp"

#include <new>

#include "arith/block_runner.hpp"
#include "arith/plan/memory_budget.hpp"
#include "census/report/texts.hpp"

namespace census {

std::string failureText(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::bad_alloc&) {
    return std::string(texts::kOutOfMemory);
  } catch (const arith::MemoryShortage& shortage) {
    return texts::memoryShortage(shortage.room(), shortage.least());
  } catch (const arith::BlockFailure& block) {
    return texts::blockFailure(block.place(), block.outOfMemory(), block.what());
  } catch (const std::exception& error) {
    return error.what();
  }
}

}  // namespace census
