#include "tests/support/WireTraceFile.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <fstream>
#include <stdexcept>

#include "unitsim/SimTrace.h"

std::string TTraceLine::Wire() const { return From + " " + Kind + " " + HexBytes(Bytes); }

namespace {

[[noreturn]] void Bad(const std::string& line, const std::string& why) {
  throw std::runtime_error("wire trace line " + why + ": " + line);
}

QJsonValue Field(const QJsonObject& object, const char* key, QJsonValue::Type type, const std::string& line) {
  const QJsonValue value = object.value(key);
  if (value.type() != type) Bad(line, std::string("lacks \"") + key + "\" of the right type");
  return value;
}

int64_t Integer(const QJsonObject& object, const char* key, const std::string& line) {
  const double value = Field(object, key, QJsonValue::Double, line).toDouble();
  if (value != double(int64_t(value))) Bad(line, std::string("has a fraction in \"") + key + "\"");
  return int64_t(value);
}

std::vector<uint8_t> Hex(const QJsonObject& object, const char* key, const std::string& line) {
  try {
    return ParseHexBytes(Field(object, key, QJsonValue::String, line).toString().toStdString());
  } catch (const std::invalid_argument& e) {
    Bad(line, std::string("has bad hex in \"") + key + "\" (" + e.what() + ")");
  }
}

TTraceLine ParseLine(const std::string& line) {
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
  if (error.error != QJsonParseError::NoError || !document.isObject())
    Bad(line, "is not a JSON object (" + error.errorString().toStdString() + ")");
  const QJsonObject o = document.object();
  TTraceLine t;
  t.Text = line;
  t.From = Field(o, "from", QJsonValue::String, line).toString().toStdString();
  t.Kind = Field(o, "kind", QJsonValue::String, line).toString().toStdString();
  if (t.From != "host" && t.From != "units") Bad(line, "comes from neither host nor units");
  t.Bytes = Hex(o, "bytes", line);
  t.StartUs = Integer(o, "start_us", line);
  t.EndUs = Integer(o, "end_us", line);
  t.HasHeader = o.contains("n");
  if (t.HasHeader) {
    t.Address = int(Integer(o, "address", line));
    t.Command = int(Integer(o, "command", line));
    t.Status = int(Integer(o, "status", line));
    t.Length = int(Integer(o, "n", line));
    t.Data = Hex(o, "data", line);
  }
  if (o.contains("crc_ok")) t.CrcOk = Field(o, "crc_ok", QJsonValue::Bool, line).toBool();
  return t;
}

}  // namespace

std::vector<TTraceLine> ReadWireTrace(const std::string& path) {
  std::vector<TTraceLine> lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    // A last line without its newline is still being written by the simulator: not there yet.
    if (in.eof()) break;
    if (!line.empty()) lines.push_back(ParseLine(line));
  }
  return lines;
}
