#pragma once
// Unpacks a checked program package into the private staging folder with libarchive, entry by
// entry, and checks where the links it made lead. Nothing here runs a program.

#include "update/UpdateInstaller.h"

#include <QString>
#include <QVector>

// The most a package may unpack to, counted in the bytes actually written.
constexpr quint64 kMaxUnpackedBytes = quint64(4) << 30;

// Unpacks the ZIP package at path into the empty folder staging. Only entries of listed (the
// central directory, already checked) are written, each as the file, folder or link its record
// says, never with more or fewer bytes than it declares, with folders 0755 and files 0644 (0755
// when an executable bit was set). False with the reason at the first entry refused; what was
// written stays in staging for the caller to remove.
bool UnpackPackage(const QString &path, const QString &staging, const QVector<PackageEntry> &listed, QString *error);

// True when every link below bundle resolves, all links on the way followed, to a place inside
// bundle; a link with an absolute target or one that leads nowhere is refused too.
bool LinksResolveInside(const QString &bundle, QString *error);
