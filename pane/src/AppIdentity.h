// What the pane records about an application the user adds: the name the agent will see for its
// process and, when it has one, its four-character signature.
//
// The chooser accepts
//   - an application bundle "X.app" (a folder with Contents/Info.plist): the name is the folder's,
//     the signature the bundle's CFBundleSignature;
//   - a desktop entry "x.desktop": the name is the file name of the program its Exec line starts;
//     when that program lies in a bundle's Contents/MacOS folder, the bundle counts instead;
//   - a program: its file name, or its bundle as above.
#pragma once

#include <QByteArray>
#include <QString>

#include "platform/MacTypes.h"

struct ApplicationIdentity {
  QByteArray name;       // as the process is named, ".app" not yet removed; empty: unusable
  OSType signature = 0;  // 0 when none was found
};

ApplicationIdentity DescribeApplication(const QString& path);

// CFBundleSignature of a bundle's Info.plist: its first four bytes, big-endian; 0 when missing.
OSType ReadBundleSignature(const QString& bundlePath);

// The program an Exec line starts: the first word that is not "env" or a VAR=value assignment,
// with desktop-entry quoting removed; empty when there is none.
QString ProgramOfExecLine(const QString& exec);
