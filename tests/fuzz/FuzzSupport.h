#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

/** Stops the run with the property's name, so that libFuzzer keeps the input as a finding. */
void Require(bool holds, const char* property);

/** The input as bytes, without copying. */
inline QByteArray InputBytes(const uint8_t* data, size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
}

/**
 * A folder of this process for files the target writes, in memory where the system offers it (no
 * disk writes, no flushes per input); removed at exit.
 */
QString ScratchFolder();

/** Replaces the file with bytes, plainly: the input is what a user or another program left there. */
void PutFile(const QString& path, const QByteArray& bytes);
