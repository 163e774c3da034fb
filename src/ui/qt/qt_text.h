#pragma once
#include <QString>
#include <string>
#include <string_view>

namespace qz::ui {

inline QString to_qt(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}
inline std::string from_qt(const QString& text) { return text.toUtf8().toStdString(); }

// The program's texts break lines with CR LF; Qt widgets with LF.
inline QString to_qt_lines(std::string_view utf8) {
  return to_qt(utf8).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}
inline std::string from_qt_lines(const QString& text) {
  QString t = text;
  return from_qt(t.replace(QStringLiteral("\n"), QStringLiteral("\r\n")));
}

}  // namespace qz::ui
