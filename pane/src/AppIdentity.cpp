#include "AppIdentity.h"

#include <plist/plist.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <memory>

OSType ReadBundleSignature(const QString& bundlePath) {
  QFile file(bundlePath + "/Contents/Info.plist");
  if (!file.open(QIODevice::ReadOnly) || file.size() > (1 << 20)) return 0;
  QByteArray bytes = file.readAll();
  plist_t root = nullptr;
  plist_from_memory(bytes.constData(), uint32_t(bytes.size()), &root);
  std::unique_ptr<void, void (*)(plist_t)> owner(root, plist_free);
  if (!root || plist_get_node_type(root) != PLIST_DICT) return 0;
  plist_t node = plist_dict_get_item(root, "CFBundleSignature");
  if (!node || plist_get_node_type(node) != PLIST_STRING) return 0;
  char* value = nullptr;
  plist_get_string_val(node, &value);
  // A signature shorter than four bytes is padded with zeros rather than read past its end.
  UInt8 code[4] = {0, 0, 0, 0};
  for (int i = 0; value && i < 4 && value[i]; ++i) code[i] = UInt8(value[i]);
  free(value);
  return (OSType(code[0]) << 24) | (OSType(code[1]) << 16) | (OSType(code[2]) << 8) | code[3];
}

QString ProgramOfExecLine(const QString& exec) {
  // Split into words, honouring double quotes and backslash escapes inside them.
  QStringList words;
  QString word;
  bool inQuotes = false, any = false;
  for (qsizetype i = 0; i < exec.size(); ++i) {
    QChar c = exec[i];
    if (inQuotes) {
      if (c == '\\' && i + 1 < exec.size()) {
        word += exec[++i];
      } else if (c == '"') {
        inQuotes = false;
      } else {
        word += c;
      }
    } else if (c == '"') {
      inQuotes = any = true;
    } else if (c.isSpace()) {
      if (any || !word.isEmpty()) words << word;
      word.clear();
      any = false;
    } else {
      word += c;
      any = true;
    }
  }
  if (any || !word.isEmpty()) words << word;
  for (const QString& w : words) {
    if (w == "env" || (w.contains('=') && !w.startsWith('/') && !w.startsWith('='))) continue;
    if (w.startsWith('%')) return {};
    return w;
  }
  return {};
}

namespace {

// The bundle folder that holds a program at <bundle>/Contents/MacOS/<program>, if any.
QString EnclosingBundle(const QString& programPath) {
  QFileInfo info(programPath);
  QDir dir = info.absoluteDir();
  if (dir.dirName() != "MacOS" || !dir.cdUp() || dir.dirName() != "Contents" || !dir.cdUp())
    return {};
  return dir.absolutePath();
}

QString ExecOfDesktopEntry(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text) || file.size() > (1 << 20)) return {};
  bool inEntry = false;
  while (!file.atEnd()) {
    QString line = QString::fromUtf8(file.readLine()).trimmed();
    if (line.startsWith('[')) {
      inEntry = line == "[Desktop Entry]";
    } else if (inEntry && line.startsWith("Exec")) {
      qsizetype eq = line.indexOf('=');
      if (eq > 0 && line.left(eq).trimmed() == "Exec") return line.mid(eq + 1).trimmed();
    }
  }
  return {};
}

ApplicationIdentity DescribeBundle(const QString& bundle) {
  return {QFileInfo(bundle).fileName().toUtf8(), ReadBundleSignature(bundle)};
}

}  // namespace

ApplicationIdentity DescribeApplication(const QString& path) {
  QFileInfo info(path);
  if (info.isDir()) {
    if (QFileInfo::exists(path + "/Contents/Info.plist"))
      return DescribeBundle(info.absoluteFilePath());
    return {info.fileName().toUtf8(), 0};
  }
  QString program = path;
  if (path.endsWith(".desktop", Qt::CaseInsensitive)) {
    program = ProgramOfExecLine(ExecOfDesktopEntry(path));
    if (program.isEmpty()) return {};
  }
  QString bundle = program.contains('/') ? EnclosingBundle(program) : QString();
  if (!bundle.isEmpty()) return DescribeBundle(bundle);
  return {QFileInfo(program).fileName().toUtf8(), 0};
}
