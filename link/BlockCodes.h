#pragma once
#include <QtGlobal>

// The block protocol on the line: kinds, types and answer codes share one byte.
constexpr int BLOCK_HEADER = 11;
constexpr int BLOCK_DATA = 13;
constexpr int BLOCK_RESTART_HEADER = 14;
constexpr int ANSWER_RESTART_POS = 15;
// Extended mode only (two copies of Velotrax that agreed on it for a file).
constexpr int BLOCK_VERIFY = 16;
constexpr int BLOCK_FILE_END = 17;
constexpr int BLOCK_DATA_COMPRESSED = 18;
constexpr int BLOCK_DATA_REFERENCED = 19;  // compressed against the file bytes before it
constexpr int ANSWER_OK = 90;
constexpr int ANSWER_NOT_OK = 91;
constexpr int ANSWER_ALL_RECEIVED = 92;
constexpr int ANSWER_STOP = 93;
constexpr int ANSWER_RESEND_ANSWER = 94;
constexpr int ANSWER_RESEND_BLOCK = 95;
constexpr int ANSWER_ERROR = 99;

constexpr quint8 KIND_DATA = 'H';
constexpr quint8 KIND_ANSWER = 'A';
constexpr quint8 STUFF_ESCAPE = 0x01;

constexpr int DATA_BLOCK_OVERHEAD = 16;   // 12 bytes before the payload, 4 after
constexpr int ANSWER_BLOCK_SIZE = 6;
constexpr int MAX_PAYLOAD = 32767;        // signed 16-bit length field
constexpr int MAX_FILE_BYTES_PER_BLOCK = 2560;
constexpr int RECEIVE_BUFFER_SIZE = 8000;
