// uiglean-ocr-tesseract PATH [MIN_TEXT_HEIGHT]: what "uiglean ocr PATH [MIN_TEXT_HEIGHT]" does,
// over the Tesseract recognizer alone: same output, same failures, same exit statuses.
#include <string>
#include <variant>
#include <vector>

#include "uiglean/front/output.h"
#include "uiglean/ocr/ocr.h"

int main(int argc, char** argv) {
  std::vector<std::string> commandLine{"ocr"};
  for (int i = 1; i < argc; ++i) commandLine.emplace_back(argv[i]);
  auto outcome = uiglean::runOcr(commandLine);
  if (auto* failure = std::get_if<uiglean::OcrFailure>(&outcome)) {
    uiglean::fail(failure->message, failure->status);
  }
  uiglean::emit(std::get<uiglean::OcrPayload>(outcome));
}
