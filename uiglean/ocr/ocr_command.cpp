// The "ocr" entry point, kept apart from the logic in ocr.cpp so that the logic links without the
// process-wide state (and the rest of the platform layer) that the entry point reads.
#include <variant>

#include "uiglean/front/commands.h"
#include "uiglean/front/globals.h"
#include "uiglean/front/output.h"
#include "uiglean/ocr/ocr.h"

namespace uiglean {

void cmdOcr() {
  auto outcome = runOcr(args);
  if (auto* failure = std::get_if<OcrFailure>(&outcome)) fail(failure->message, failure->status);
  emit(std::get<OcrPayload>(outcome));
}

}  // namespace uiglean
