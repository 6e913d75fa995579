// The platform layer: every operation that uiglean asks of the operating system.
//
// The subsystem code calls only these free functions. Exactly one implementation is linked into
// each binary (uiglean/platform/scripted, uiglean/platform/linux, uiglean/platform/macos); the
// code above this header never asks which one it runs on.
//
// Values mirror the kinds the accessibility API hands out; elements, observers, images and bitmaps
// are opaque handles whose contents each implementation defines for itself.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace uiglean {

// ---------------------------------------------------------------------------------------------
// Handles. Each implementation defines the Impl structs; a default-constructed handle is null.

struct ElementImpl;
struct ObserverImpl;
struct ImageImpl;
struct BitmapImpl;

struct Element {
  std::shared_ptr<ElementImpl> impl;
  explicit operator bool() const { return impl != nullptr; }
};

struct Observer {
  std::shared_ptr<ObserverImpl> impl;
  explicit operator bool() const { return impl != nullptr; }
};

struct Image {
  std::shared_ptr<ImageImpl> impl;
  explicit operator bool() const { return impl != nullptr; }
};

struct Bitmap {
  std::shared_ptr<BitmapImpl> impl;
  explicit operator bool() const { return impl != nullptr; }
};

// ---------------------------------------------------------------------------------------------
// Values.

struct Point {
  double x = 0, y = 0;
};
struct Size {
  double width = 0, height = 0;
};
struct Rect {
  double x = 0, y = 0, width = 0, height = 0;
};
struct Range {
  std::int64_t location = 0, length = 0;
};

// A platform number. Booleans are numbers too; isBool remembers that the platform handed out a
// boolean. isInteger is true when the platform holds the number as an integer type.
struct Number {
  Number() = default;
  explicit Number(double v, bool boolean = false, bool integral = false,
                  std::optional<std::int64_t> exact = std::nullopt)
      : value(v), isBool(boolean), isInteger(integral), integer(exact) {}

  double value = 0;
  bool isBool = false;
  bool isInteger = false;
  // The exact value of an integer, when the platform has it (a double holds integers only up to
  // 2^53 exactly).
  std::optional<std::int64_t> integer;
};

// A value of a kind the tool never interprets (a date, a URL, ...), described for diagnostics.
struct OtherValue {
  std::string description;
};

using ElementList = std::vector<Element>;

// No value at all (an attribute copy that succeeded but yielded nothing).
struct NoValue {};

using Value = std::variant<NoValue, std::string, Number, Point, Size, Range, Element, ElementList,
                           OtherValue>;

// Status codes of the accessibility API that the tool and its platform layers use.
namespace axerr {
inline constexpr std::int32_t success = 0;
inline constexpr std::int32_t failure = -25200;
inline constexpr std::int32_t illegalArgument = -25201;
inline constexpr std::int32_t invalidElement = -25202;
inline constexpr std::int32_t invalidObserver = -25203;
inline constexpr std::int32_t cannotComplete = -25204;
inline constexpr std::int32_t attributeUnsupported = -25205;
inline constexpr std::int32_t actionUnsupported = -25206;
inline constexpr std::int32_t notificationUnsupported = -25207;
inline constexpr std::int32_t notImplemented = -25208;
inline constexpr std::int32_t noValue = -25212;
}  // namespace axerr

struct CopyResult {
  std::int32_t status = axerr::failure;
  Value value;
};

struct ActionNamesResult {
  std::int32_t status = axerr::failure;
  // Absent when the platform's answer is not a list of strings.
  std::optional<std::vector<std::string>> names;
};

struct WindowNumberResult {
  std::int32_t status = axerr::failure;
  std::uint32_t windowNumber = 0;
};

// ---------------------------------------------------------------------------------------------
// Start-up. Called first thing in main, before anything else happens; an implementation that
// cannot start (for example a scene that does not load) ends the process itself.
void platformStart();
// Starts a new run in a process that makes many (a server): what one run learnt about other
// applications and their state is forgotten (cached answers, application lists, applications
// marked as hung, observers), while connections that still work are kept. A one-shot run never
// needs it.
void platformNewRun();
// In a process that makes many runs (a server), once before the first: answers that the
// applications announce changes of may be kept from one run to the next (where the platform can
// tell when they change). A one-shot run never calls it and asks everything afresh.
void platformKeepAnswersBetweenRuns();

// ---------------------------------------------------------------------------------------------
// Accessibility.

bool axIsProcessTrusted();
Element axCreateApplication(std::int32_t pid);
void axSetMessagingTimeout(const Element& element, float seconds);
// Ends the run's waiting on other applications `seconds` from now: no call to an application
// waits past that moment, and a call made after it fails at once as a timeout (-25204) without
// counting against the application. 0 or less, or not finite: no deadline.
void axSetRunDeadline(double seconds);
CopyResult axCopyAttributeValue(const Element& element, const std::string& attribute);
ActionNamesResult axCopyActionNames(const Element& element);
std::int32_t axPerformAction(const Element& element, const std::string& action);
std::int32_t axSetAttributeValue(const Element& element, const std::string& attribute,
                                 const Value& value);
// A range value that axSetAttributeValue accepts, or nothing.
std::optional<Value> axCreateRangeValue(std::int64_t location, std::int64_t length);
WindowNumberResult axGetWindowNumber(const Element& window);
bool isSecureEventInputEnabled();

// Observers and the run loop. The callback runs only inside runLoopRunInMode, on the calling
// thread.
using ObserverCallback = void (*)(const Observer& observer, const Element& element,
                                  const std::string& notification, void* context);
struct ObserverCreateResult {
  std::int32_t status = axerr::failure;
  Observer observer;
};
ObserverCreateResult axObserverCreate(std::int32_t pid, ObserverCallback callback);
std::int32_t axObserverAddNotification(const Observer& observer, const Element& element,
                                       const std::string& notification, void* context);
// Adds the observer's run-loop source to the current thread's run loop in the default mode.
void addObserverToRunLoop(const Observer& observer);
// Runs the current run loop in the default mode for at most `seconds`; with
// returnAfterSourceHandled it returns as soon as one source was handled. Returns the platform's
// reason code (1 finished, 2 stopped, 3 timed out, 4 handled a source).
std::int32_t runLoopRunInMode(double seconds, bool returnAfterSourceHandled);

// ---------------------------------------------------------------------------------------------
// Workspace: running applications, activation and launching.

struct RunningApp {
  std::int32_t pid = 0;
  std::optional<std::string> localizedName;
  std::optional<std::string> bundleIdentifier;
  std::int64_t activationPolicy = 0;  // 0 regular, 1 accessory, 2 background
  bool hidden = false;
};

inline constexpr std::uint32_t activateAllWindows = 1;
inline constexpr std::uint32_t activateIgnoringOtherApps = 2;

std::optional<RunningApp> frontmostApplication();
std::vector<RunningApp> runningApplications();
// Asks the application to activate; the platform's flag is returned and callers may ignore it.
bool activateApplication(const RunningApp& app, std::uint32_t options);
// The path of the installed application with that bundle identifier, or nothing.
std::optional<std::string> urlForApplicationWithBundleIdentifier(const std::string& bundleId);
bool fileExistsAtPath(const std::string& path);
// Starts launching the application at `path` without waiting for it.
void openApplicationAtURL(const std::string& path, bool activates);

// ---------------------------------------------------------------------------------------------
// The C library.

std::int32_t processId();
void sleepMicros(std::uint32_t micros);
// Seconds since an arbitrary epoch, with sub-millisecond resolution.
double currentTime();

// ---------------------------------------------------------------------------------------------
// Window server.

// A property-list value as the window server hands it out. Integers and reals stay distinct.
// The copy, move and destruction are defined after the class, where it is complete: clang
// instantiates them with the class otherwise, and its dictionaries hold values of the class.
struct PlistValue;
using PlistDict = std::vector<std::pair<std::string, PlistValue>>;
using PlistArray = std::vector<PlistValue>;
struct PlistValue {
  using Variant =
      std::variant<std::monostate, bool, std::int64_t, double, std::string, PlistDict, PlistArray>;
  Variant v;

  PlistValue() = default;
  PlistValue(Variant value) : v(std::move(value)) {}  // implicit: PlistValue{dict} as before
  PlistValue(const PlistValue&);
  PlistValue(PlistValue&&) noexcept;
  PlistValue& operator=(const PlistValue&);
  PlistValue& operator=(PlistValue&&) noexcept;
  ~PlistValue();
};
inline PlistValue::PlistValue(const PlistValue&) = default;
inline PlistValue::PlistValue(PlistValue&&) noexcept = default;
inline PlistValue& PlistValue::operator=(const PlistValue&) = default;
inline PlistValue& PlistValue::operator=(PlistValue&&) noexcept = default;
inline PlistValue::~PlistValue() = default;
// The entry for `key` in a dictionary value, or nullptr when the value is not a dictionary or
// has no such key.
const PlistValue* plistLookup(const PlistValue& dict, const std::string& key);

inline constexpr std::uint32_t windowListOptionAll = 0;
inline constexpr std::uint32_t windowListExcludeDesktopElements = 16;
inline constexpr std::uint32_t nullWindowId = 0;

// The first identifiers of the active display list, at most `capacity` of them.
std::vector<std::uint32_t> activeDisplayList(std::uint32_t capacity);
std::uint32_t mainDisplayId();
Rect displayBounds(std::uint32_t displayId);
// The window list, front to back: normally an array of dictionaries; any other value (or none)
// is what the platform answered.
PlistValue windowListCopyWindowInfo(std::uint32_t options, std::uint32_t relativeToWindow);
bool preflightScreenCaptureAccess();

// ---------------------------------------------------------------------------------------------
// Images and text recognition.

// The image at `path`, or a null handle when it cannot be read or decoded.
Image loadImage(const std::string& path);
// The image's bitmap, or a null handle.
Bitmap imageBitmap(const Image& image);
std::int64_t bitmapWidth(const Bitmap& bitmap);
std::int64_t bitmapHeight(const Bitmap& bitmap);

struct TextRecognitionRequest {
  std::int64_t recognitionLevel = 0;  // 0 accurate, 1 fast
  bool usesLanguageCorrection = true;
  float minimumTextHeight = 0;  // fraction of the image height
  std::vector<std::string> recognitionLanguages;
};

struct RecognizedText {
  std::string text;
  float confidence = 0;
};

struct TextObservation {
  // Normalised to the image size, origin at the bottom left.
  Rect boundingBox;
  // Ranked, best first; may be empty.
  std::vector<RecognizedText> candidates;
};

struct TextRecognitionResult {
  // The platform's description of the error, when performing the request failed.
  std::optional<std::string> error;
  std::vector<TextObservation> observations;
};

TextRecognitionResult performTextRecognition(const Bitmap& bitmap,
                                             const TextRecognitionRequest& request);

// ---------------------------------------------------------------------------------------------
// Synthesized input and screen capture, for what no accessibility action reaches. The input
// operations post their events to whatever has the keyboard focus or lies under the point, and
// answer nothing once they are posted, or why this session cannot post them (no display server
// that takes synthesized input, secure input on): never a silent no-op.

// Modifier bits of a key stroke.
inline constexpr std::uint32_t keyModShift = 1;
inline constexpr std::uint32_t keyModControl = 2;
inline constexpr std::uint32_t keyModOption = 4;   // Alt
inline constexpr std::uint32_t keyModCommand = 8;  // Super on Linux

// The keys that type no character, as the menus' shortcut text names them.
enum class NamedKey : std::uint8_t {
  enter, tab, space, backspace, escape, forwardDelete, home, end, pageUp, pageDown,
  left, right, up, down,
  f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12, f13, f14, f15, f16, f17, f18, f19, f20,
};

// One key pressed and released with modifiers held: a named key, or else the key that types
// `character` (a Unicode scalar; letters in lower case, shift comes from the modifiers).
struct KeyStroke {
  std::uint32_t modifiers = 0;
  std::optional<NamedKey> named;
  std::uint32_t character = 0;
};

enum class MouseButton : std::uint8_t { left, right, middle };

std::optional<std::string> postKeyStroke(const KeyStroke& stroke);
// Types UTF-8 text into whatever has the keyboard focus; a line break is the Return key, a tab
// the Tab key.
std::optional<std::string> postText(const std::string& text);
// Moves the pointer to `where` (screen coordinates, as frames give them) and clicks `clicks`
// times (2: a double click).
std::optional<std::string> postMouseClick(Point where, MouseButton button, std::int32_t clicks);
// Moves the pointer to `where` and turns the wheel: `lines` down (negative: up), `columns` right
// (negative: left).
std::optional<std::string> postScrollWheel(Point where, std::int32_t lines, std::int32_t columns);

// A picture of a window or a display: PNG bytes, the size in pixels, and the same picture as an
// image for imageBitmap and the text recognizer. `error` tells why there is none.
struct ScreenCapture {
  std::optional<std::string> error;
  std::string png;
  std::int64_t width = 0, height = 0;
  Image image;
};
// The window with that window-server number (axGetWindowNumber), as it shows on screen.
ScreenCapture captureWindow(std::uint32_t windowNumber);
// The whole display (activeDisplayList).
ScreenCapture captureDisplay(std::uint32_t displayId);

}  // namespace uiglean
