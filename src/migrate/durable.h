#pragma once

#include <QByteArray>
#include <QString>

// File steps that survive a crash or a power cut at any point: what is written is synced before
// anything depends on it, and names change only by atomic renames. Failures throw AppError with the
// system's error number and text.
namespace kestrella::durable {

// Creates a new owner-only file (never an existing one) and returns its descriptor.
int createOwnerOnly(const QString& path);
// Copies a file byte for byte into a new owner-only file, synced; returns the SHA-256 of the bytes.
QByteArray copyOwnerOnly(const QString& from, const QString& to);
QByteArray digest(const QString& path);
void syncFile(const QString& path);
void syncFolder(const QString& folder);
// Renames without ever replacing: false when the target exists.
bool renameNoReplace(const QString& from, const QString& to);
// Renames over the target in one step.
void replace(const QString& from, const QString& to);
// Removes a file if it is there.
void remove(const QString& path);

} // namespace kestrella::durable
