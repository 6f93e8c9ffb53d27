#pragma once
#include <QString>

// The numbers of the error list, as they travel in an error answer.
namespace ErrorNr {
constexpr qint32 IncorrectHeader = 1;
constexpr qint32 IncorrectSizeDateName = 2;
constexpr qint32 IncorrectStartPosCount = 3;
constexpr qint32 BufferOverflow = 4;
constexpr qint32 NoBytesReceived = 5;
constexpr qint32 OpenForReadFailed = 6;
constexpr qint32 CreateTempFileFailed = 7;
constexpr qint32 RenameTempFileFailed = 8;
constexpr qint32 IncorrectFileSize = 9;
constexpr qint32 TooManyResends = 10;
constexpr qint32 PortError = 11;
constexpr qint32 RestartTempFileNotOpened = 12;
constexpr qint32 RestartWeirdPosition = 13;
constexpr qint32 RestartFileNotOpen = 14;
// Extended mode only: the whole-file check of a received file failed.
constexpr qint32 FileCheckFailed = 15;
// Extended mode only: the Receiver's acceptance names terms the Sender did not offer.
constexpr qint32 AcceptanceNotHonoured = 16;
// Extended mode only: a header's size is beyond what the Receiver can take.
constexpr qint32 SizeNotReceivable = 17;
// Extended mode only: a file inside a folder would go to a Receiver that takes no folders.
constexpr qint32 NoFolders = 18;
constexpr qint32 Last = NoFolders;
// The text shown for a number; empty for 0 and for numbers not in the list.
QString Text(qint32 nr);
}  // namespace ErrorNr
