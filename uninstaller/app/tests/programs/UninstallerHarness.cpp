// Corvimus Uninstaller as the tests run it: RunUninstaller itself, with a stand-in authorizer that
// answers as the first argument says ("grant", "cancel" or "deny") and starts the tool as the
// calling user, a recorded restart instead of a real one, and the process list limited to the
// test's own children.
//
// Commands, one per line on standard input, each answered by one line:
//   windows                 -> "windows <names of the shown windows, sorted>"
//   click <window> <cmd>    clicks the control of the window carrying the command -> "clicked"
//   menu <window> <cmd>     chooses the menu item of the window carrying the command -> "chose"
//   close <window>          the window's close box -> "closed"
//   grab <window> <file>    saves a picture of the window -> "grabbed"
//   texts <window>          -> "texts <title>|<every label's, button's and menu item's text>", the
//                           texts joined by "|", line breaks as spaces
// An unknown window or control is answered with "missing". Also printed: "restart interactive=N"
// when a restart is asked for, and at the end "rights N", "tool-starts N", "destroys N" and
// "status S" (the process then exits with S).
#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPixmap>
#include <QSocketNotifier>
#include <QStringList>
#include <QWidget>
#include <cstdio>
#include <cstring>
#include <string>

#include "Uninstaller.h"
#include "platform/Authorization.h"
#include "platform/Processes.h"
#include "platform/SystemProcess.h"

namespace {

void Say(const QString& line) {
  std::printf("%s\n", line.toUtf8().constData());
  std::fflush(stdout);
}

QWidget* ShownWindow(const QString& name) {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->isVisible() && w->objectName() == name) return w;
  }
  return nullptr;
}

QString ShownWindows() {
  QStringList names;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->isVisible() && !w->inherits("QMenu") && !w->objectName().isEmpty())
      names << w->objectName();
  }
  names.sort();
  return names.join(QLatin1Char(' '));
}

QString Command(const QString& line) {
  QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
  if (words.isEmpty()) return QStringLiteral("missing");
  if (words[0] == QStringLiteral("windows")) return QStringLiteral("windows ") + ShownWindows();
  if (words.size() < 2) return QStringLiteral("missing");
  QWidget* window = ShownWindow(words[1]);
  if (!window) return QStringLiteral("missing");
  if (words[0] == QStringLiteral("texts")) {
    QStringList texts{window->windowTitle()};
    for (QLabel* l : window->findChildren<QLabel*>()) texts << l->text();
    for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) texts << b->text();
    for (QAction* a : window->findChildren<QAction*>()) texts << a->text();
    return QStringLiteral("texts ") +
           texts.join(QLatin1Char('|')).replace(QLatin1Char('\n'), QLatin1Char(' '));
  }
  if (words[0] == QStringLiteral("close")) {
    window->close();
    return QStringLiteral("closed");
  }
  if (words.size() < 3) return QStringLiteral("missing");
  if (words[0] == QStringLiteral("grab")) {
    return window->grab().save(words[2]) ? QStringLiteral("grabbed") : QStringLiteral("missing");
  }
  if (words[0] == QStringLiteral("click")) {
    for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) {
      if (b->property("command").toString() == words[2]) {
        b->click();
        return QStringLiteral("clicked");
      }
    }
  } else if (words[0] == QStringLiteral("menu")) {
    for (QAction* a : window->findChildren<QAction*>()) {
      if (a->property("command").toString() == words[2]) {
        a->trigger();
        return QStringLiteral("chose");
      }
    }
  }
  return QStringLiteral("missing");
}

}  // namespace

int main(int argc, char** argv) {
  OSStatus answer = noErr;
  if (argc > 1 && std::strcmp(argv[1], "cancel") == 0) answer = errAuthorizationCanceled;
  if (argc > 1 && std::strcmp(argv[1], "deny") == 0) answer = errAuthorizationDenied;
  QApplication application(argc, argv);

  corvimus::FakeAuthorizer authorizer(answer);
  corvimus::SetAuthorizerForTesting(&authorizer);
  corvimus::SetRestartRequestForTesting([](bool interactive) {
    Say(QStringLiteral("restart interactive=%1").arg(interactive ? 1 : 0));
    return OSErr(noErr);
  });
  // Only the test's own programs: other tests beside it run agents and pane hosts too.
  SetProcessScopeForTesting(getppid());

  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  std::string pending;
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    char buffer[512];
    ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
      input.setEnabled(false);
      return;
    }
    pending.append(buffer, size_t(n));
    size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      QString line = QString::fromStdString(pending.substr(0, end));
      pending.erase(0, end + 1);
      Say(Command(line));
    }
  });

  OSStatus status = RunUninstaller();

  Say(QStringLiteral("rights %1").arg(authorizer.rightRequests()));
  Say(QStringLiteral("tool-starts %1").arg(authorizer.toolStarts()));
  Say(QStringLiteral("destroys %1").arg(authorizer.destroys()));
  Say(QStringLiteral("status %1").arg(status));
  corvimus::toolbox::DisposeAllWindows();
  return int(status);
}
