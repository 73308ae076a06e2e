#include "app/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace pavrel {

void InstallTranslations(QCoreApplication& Application) {
  const QLocale locale;  // the system's, with its list of user interface languages
  // Owned by the application, so they last as long as anything they translate.
  auto* own = new QTranslator(&Application);
  if (own->load(locale, "pavrel", "_", ":/i18n")) {
    QCoreApplication::installTranslator(own);
  } else {
    delete own;
  }
  auto* qt = new QTranslator(&Application);
  if (qt->load(locale, "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(qt);
  } else {
    delete qt;
  }
}

}  // namespace pavrel
