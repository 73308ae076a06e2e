// The fake portal as its own process, so that a test can stop it (SIGSTOP, SIGTERM):
//   fake_portal ADDRESS VERSION WIDTH HEIGHT NODE grant|refuse

#include <QCoreApplication>
#include <QDBusConnection>
#include <cstdio>
#include <exception>

#include "desktop/FakePortal.h"

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  if (argc != 7) {
    std::fprintf(stderr, "usage: fake_portal ADDRESS VERSION WIDTH HEIGHT NODE grant|refuse\n");
    return 2;
  }
  pavrel::TFakePortalConfig config;
  config.Version = QString(argv[2]).toUInt();
  config.Width = QString(argv[3]).toInt();
  config.Height = QString(argv[4]).toInt();
  config.Node = QString(argv[5]).toUInt();
  config.Refuse = QString(argv[6]) == QStringLiteral("refuse");
  try {
    pavrel::TFakePortal portal(QDBusConnection::connectToBus(argv[1], QStringLiteral("portal")),
                               config);
    return QCoreApplication::exec();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fake_portal: %s\n", e.what());
    return 1;
  }
}
