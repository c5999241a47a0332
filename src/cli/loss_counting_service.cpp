// Counting the input the backends report lost.
#include "cli/loss_counting_service.h"

namespace pelrow::cli {

TMidiResult TLossCountingService::OpenInput(int index, TMidiInCallback callback,
                                            std::unique_ptr<TMidiInPort>& port) {
  return FService.OpenInput(
      index,
      [this, callback = std::move(callback)](const TMidiInNotice& notice) {
        if (notice.Code == TMidiInCode::Overflow) {
          FLossNotices.fetch_add(1);
          FLostBytes.fetch_add(notice.Message);
        } else if (notice.Code == TMidiInCode::Failed) {
          FInputFailure.store(notice.Message);
        }
        callback(notice);
      },
      port);
}

} // namespace pelrow::cli
