#include "context/error_table.h"

#include <cstdio>

namespace stb {

const ErrorRecord ErrorTable[kErrorTableSize] = {
    {0, "Erfolgreich!"},
    {1, "Genericher Fehler!"},
    {2, "Kann nicht zu Serialport verbinden!"},
    {3, "Send data error!"},
    {4, "Return command not equal to send command!"},
    {5, "Send command error!"},
    {6, "Operation von Benutzer abgebrochen!"},
    {7, "Ziel nicht Verbunden oder im Fehlerstatus !"},
    {8, "Zeitüberschreitung beim Datenlesen !"},
    {9, "CRC check error!"},
    {10, "Target return error when oprate!"},
    {11, "Target return is not recognize!"},
    {12, "Overrun retry times"},
    {13, "Fehler beim Brennvorgang!"},
    {14, "Error dump len"},
    {15, "Load sdram ini file error!"},
    {16, "Kann Serialport nicht Öffnen !"},
    {17, "Abbruch durch Benutzer !"},
    {18, "Open file error!"},
    {19, "Malloc memory error!"},
    {20, "Read file error!"},
    {21, "Dumping Fehler !"},
    {22, "Command comtest error!"},
    {23, "Read data error!"},
    {24, "Send packet head error!"},
    {25, "Send Packet data error!"},
    {26, "Send packet data CRC error!"},
    {27, "No Packet receive!"},
    {28, "Receive packet head error!"},
    {29, "Check packet head CRC error!"},
    {30, "Receive packet data error!"},
    {31, "Check packet data CRC error!"},
    {32, "Packet not recognize!"},
    {33, "Command not recognize!"},
    {34, "STB compress transfer data error!"},
    {35, "STB not receive all data!"},
    {36, "File not open!"},
    {37, "Read file data error!"},
    {38, "Write file data error!"},
    {39, "Malloc memory error"},
    {0x10000, "STB check command line parameter error!"},
    {0x10001, "STB set address  overflow!"},
    {0x10002, "STB address not init!"},
    {0x10003, "STB Code nicht gefunden!"},
    {0x10004, "STB kann nicht Brennen!"},
    {0x10005, "STB nicht genug Puffer!"},
    {0x10006, "STB not dump all data!"},
    {40, "Send Packet Error!Please Check serial port device"},
};

const ErrorRecord ToolErrorTable[kToolErrorTableSize] = {
    {err::kDumpEmpty, "The box sent no data. Nothing was written."},
    {err::kChunkRange, "The chunk has no valid flash range. Nothing was written."},
    {err::kNotRegularFile, "The file is not a regular file."},
};

const char* ErrorTextOf(int32_t code) {
  for (const ErrorRecord& record : ErrorTable)
    if (record.code == code) return record.text;
  for (const ErrorRecord& record : ToolErrorTable)
    if (record.code == code) return record.text;
  return nullptr;
}

int LookupErrorText(int32_t code, char* out) {
  const char* text = ErrorTextOf(code);
  if (text == nullptr) return 0;
  // Every text is far below 254 characters, so the line break always fits.
  std::snprintf(out, 256, "%s\r\n", text);
  return 1;
}

}  // namespace stb
