// The main window's support components: the About window, the homepage link and
// the single-instance guard through which a later start hands over its files.
#include "app/qt/pelrow_form.h"
#include "app/qt/window_activation.h"
#include "support/one_instance.h"
#include "support/qt/splash_form.h"
#include "support/text_format.h"

#include <QPointer>
#include <QSocketNotifier>

namespace pelrow {

namespace {
constexpr const char* TextBrowserFailed =
    "Could not open your Internet browser. Please enter this\r\nURL in the address bar of your "
    "Internet browser:\r\n%s";
} // namespace

void TPelrowForm::About1Click() {
  if (SplashForm1 != nullptr)
    SplashForm1->ShowAbout();
}

void TPelrowForm::PelrowHomepage1Click() {
  if (!GoToWeb.OpenUrl() && FErrorBox)
    FErrorBox(FormatText(TextBrowserFailed, GoToWeb.Url));
}

// The first instance hears of a later start through the guard's notice; the
// guard then brings the window to the front and hands over the parameters.
void TPelrowForm::ConnectOneInstance() {
  TOneInstance* guard = FStartup.OneInstance;
  if (guard == nullptr)
    return;
  // The guard outlives the window in the program entry.
  const QPointer<TPelrowForm> window(this);
  guard->OnBringToFront = [window](TOneInstance&, const std::string& activationToken) {
    if (window)
      BringWindowToFront(*window, activationToken);
  };
  guard->OnInstanceStarted = [window](TOneInstance&, const std::vector<std::string>& params) {
    if (window)
      window->OneInstance1InstanceStarted(params);
  };
  if (guard->HandOverNotice() < 0)
    return;
  FHandOverNotifier = new QSocketNotifier(guard->HandOverNotice(), QSocketNotifier::Read, this);
  connect(FHandOverNotifier, &QSocketNotifier::activated, this,
          [guard] { guard->ReceiveHandOver(); });
}

// A later start handed over its parameters: the last one is opened, as with the
// window's own command line.
void TPelrowForm::OneInstance1InstanceStarted(const std::vector<std::string>& params) {
  OpenFileList(params);
}

} // namespace pelrow
