// Running applications, activation, installed applications and launching, through NSWorkspace,
// NSRunningApplication and NSFileManager.
#import <AppKit/AppKit.h>

#include "uiglean/ax/platform.h"

namespace uiglean {

namespace {

std::optional<std::string> optionalString(NSString* s) {
  if (s == nil) return std::nullopt;
  const char* text = s.UTF8String;
  if (text == nullptr) return std::nullopt;
  return std::string(text);
}

RunningApp runningAppOf(NSRunningApplication* app) {
  RunningApp out;
  out.pid = app.processIdentifier;
  out.localizedName = optionalString(app.localizedName);
  out.bundleIdentifier = optionalString(app.bundleIdentifier);
  out.activationPolicy = static_cast<std::int64_t>(app.activationPolicy);
  out.hidden = app.hidden;
  return out;
}

NSString* nsString(const std::string& s) {
  return [[NSString alloc] initWithBytes:s.data() length:s.size() encoding:NSUTF8StringEncoding];
}

}  // namespace

std::optional<RunningApp> frontmostApplication() {
  @autoreleasepool {
    NSRunningApplication* app = NSWorkspace.sharedWorkspace.frontmostApplication;
    if (app == nil) return std::nullopt;
    return runningAppOf(app);
  }
}

std::vector<RunningApp> runningApplications() {
  @autoreleasepool {
    std::vector<RunningApp> out;
    for (NSRunningApplication* app in NSWorkspace.sharedWorkspace.runningApplications)
      out.push_back(runningAppOf(app));
    return out;
  }
}

bool activateApplication(const RunningApp& app, std::uint32_t options) {
  @autoreleasepool {
    NSRunningApplication* running =
        [NSRunningApplication runningApplicationWithProcessIdentifier:app.pid];
    if (running == nil) return false;
    return [running activateWithOptions:static_cast<NSApplicationActivationOptions>(options)];
  }
}

std::optional<std::string> urlForApplicationWithBundleIdentifier(const std::string& bundleId) {
  @autoreleasepool {
    NSString* identifier = nsString(bundleId);
    if (identifier == nil) return std::nullopt;
    NSURL* url = [NSWorkspace.sharedWorkspace URLForApplicationWithBundleIdentifier:identifier];
    if (url == nil || !url.fileURL) return std::nullopt;
    return optionalString(url.path);
  }
}

bool fileExistsAtPath(const std::string& path) {
  @autoreleasepool {
    NSString* p = nsString(path);
    return p != nil && [NSFileManager.defaultManager fileExistsAtPath:p];
  }
}

void openApplicationAtURL(const std::string& path, bool activates) {
  @autoreleasepool {
    NSString* p = nsString(path);
    if (p == nil) return;
    NSWorkspaceOpenConfiguration* configuration = [NSWorkspaceOpenConfiguration configuration];
    configuration.activates = activates;
    [NSWorkspace.sharedWorkspace openApplicationAtURL:[NSURL fileURLWithPath:p]
                                        configuration:configuration
                                    completionHandler:nil];
  }
}

}  // namespace uiglean
