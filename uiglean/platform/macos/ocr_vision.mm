// Text recognition with Vision: one VNRecognizeTextRequest, performed synchronously on the
// bitmap with an empty options dictionary.
#import <Foundation/Foundation.h>
#import <Vision/Vision.h>

#include "uiglean/ax/platform.h"
#include "uiglean/platform/macos/images.h"

namespace uiglean {

namespace {

NSString* nsString(const std::string& s) {
  return [[NSString alloc] initWithBytes:s.data() length:s.size() encoding:NSUTF8StringEncoding];
}

std::string stdString(NSString* s) {
  const char* text = s.UTF8String;
  return text ? std::string(text) : std::string();
}

}  // namespace

TextRecognitionResult performTextRecognition(const Bitmap& bitmap,
                                             const TextRecognitionRequest& settings) {
  TextRecognitionResult result;
  if (!bitmap.impl || !bitmap.impl->image) {
    result.error = "no bitmap";
    return result;
  }
  @autoreleasepool {
    VNRecognizeTextRequest* request = [[VNRecognizeTextRequest alloc] init];
    request.recognitionLevel = settings.recognitionLevel == 1 ? VNRequestTextRecognitionLevelFast
                                                              : VNRequestTextRecognitionLevelAccurate;
    request.usesLanguageCorrection = settings.usesLanguageCorrection;
    request.minimumTextHeight = settings.minimumTextHeight;
    NSMutableArray<NSString*>* languages = [NSMutableArray array];
    for (const std::string& language : settings.recognitionLanguages) {
      NSString* l = nsString(language);
      if (l != nil) [languages addObject:l];
    }
    request.recognitionLanguages = languages;

    VNImageRequestHandler* handler =
        [[VNImageRequestHandler alloc] initWithCGImage:bitmap.impl->image.get() options:@{}];
    NSError* error = nil;
    if (![handler performRequests:@[ request ] error:&error]) {
      result.error = error != nil ? stdString(error.description) : std::string("unknown error");
      return result;
    }
    NSArray<VNRecognizedTextObservation*>* observations = request.results;
    if (observations == nil) return result;
    for (VNRecognizedTextObservation* observation in observations) {
      TextObservation out;
      const CGRect box = observation.boundingBox;
      out.boundingBox = Rect{box.origin.x, box.origin.y, box.size.width, box.size.height};
      for (VNRecognizedText* candidate in [observation topCandidates:1])
        out.candidates.push_back(RecognizedText{stdString(candidate.string), candidate.confidence});
      result.observations.push_back(std::move(out));
    }
  }
  return result;
}

}  // namespace uiglean
