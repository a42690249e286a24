#include "host_state.h"

#include <cstdio>

namespace hostsim {

const Field* TranscriptEvent::find(const std::string& key) const {
  for (const Field& field : fields) {
    if (field.key == key)
      return &field;
  }
  return nullptr;
}

namespace {

// The value of the field `key` through `member`, or the value's default when the key is absent.
template <class Value>
Value FieldValue(const TranscriptEvent& event, const std::string& key, Value Field::*member) {
  const Field* field = event.find(key);
  return field ? field->*member : Value();
}

template <class Value>
TranscriptEvent& AddField(TranscriptEvent& event, const std::string& key, Field::Kind kind,
                          Value Field::*member, const Value& value) {
  Field field;
  field.key = key;
  field.kind = kind;
  field.*member = value;
  event.fields.push_back(std::move(field));
  return event;
}

} // namespace

std::string TranscriptEvent::text(const std::string& key) const {
  return FieldValue(*this, key, &Field::text);
}

long long TranscriptEvent::number(const std::string& key) const {
  return FieldValue(*this, key, &Field::number);
}

bool TranscriptEvent::boolean(const std::string& key) const {
  return FieldValue(*this, key, &Field::boolean);
}

std::vector<std::string> TranscriptEvent::list(const std::string& key) const {
  return FieldValue(*this, key, &Field::list);
}

TranscriptEvent& TranscriptEvent::addText(const std::string& key, const std::string& value) {
  return AddField(*this, key, Field::Kind::Text, &Field::text, value);
}

TranscriptEvent& TranscriptEvent::addNumber(const std::string& key, long long value) {
  return AddField(*this, key, Field::Kind::Number, &Field::number, value);
}

TranscriptEvent& TranscriptEvent::addBoolean(const std::string& key, bool value) {
  return AddField(*this, key, Field::Kind::Boolean, &Field::boolean, value);
}

TranscriptEvent& TranscriptEvent::addList(const std::string& key, const std::vector<std::string>& value) {
  return AddField(*this, key, Field::Kind::TextList, &Field::list, value);
}

size_t Utf8SequenceLength(const std::string& text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80)
    return 1;
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF; // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high)
    return 0;
  for (size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF)
      return 0;
  }
  return length;
}

namespace {

// JSON string body. Well-formed UTF-8 passes through; control characters are escaped; a byte that is
// not part of well-formed UTF-8 is written as \u00XX with its value, so every line is valid UTF-8 and
// an escape from \u0080 to \u00ff always stands for such a byte.
std::string JsonEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 2);
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    const auto byte = static_cast<unsigned char>(c);
    const size_t length = Utf8SequenceLength(text, i);
    if (length > 1) {
      out.append(text, i, length);
      i += length;
      continue;
    }
    ++i;
    switch (c) {
    case '"':
      out += "\\\"";
      break;
    case '\\':
      out += "\\\\";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\r':
      out += "\\r";
      break;
    case '\t':
      out += "\\t";
      break;
    default:
      if (length == 0 || byte < 0x20 || byte == 0x7F) {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "\\u%04x", byte);
        out += buffer;
      } else {
        out += c;
      }
    }
  }
  return out;
}

// A text as it appears in a readable line: quoted, with line breaks and quotes escaped so that one
// event stays one line.
std::string Quoted(const std::string& text) {
  return "\"" + JsonEscape(text) + "\"";
}

std::string NameOf(long long value, const std::vector<const char*>& names, long long first = 0) {
  const long long index = value - first;
  const char* name = (index >= 0 && index < static_cast<long long>(names.size()))
                         ? names[static_cast<size_t>(index)]
                         : "Unknown";
  return std::string(name) + "(" + std::to_string(value) + ")";
}

std::string LevelName(long long v) {
  return NameOf(v, {"Error", "Warning", "Info"});
}
std::string LogTypeName(long long v) {
  return NameOf(v, {"File", "Console"});
}
std::string ButtonsName(long long v) {
  return NameOf(v, {"OK", "OKCancel", "RetryCancel", "YesNo", "YesNoCancel"});
}
std::string IconName(long long v) {
  return NameOf(v, {"None", "Question", "Information", "Warning", "Critical"});
}
std::string AnswerName(long long v) {
  return NameOf(v, {"Error", "OK", "Cancel", "Yes", "No"}, -1);
}
std::string DockingName(long long v) {
  return NameOf(v, {"Floating", "Top", "Bottom", "Left", "Right"});
}
std::string YesNo(bool value) {
  return value ? "true" : "false";
}

// The readable line puts a blank after each comma, the JSON object none.
std::string QuotedList(const std::vector<std::string>& list, const char* separator = ", ") {
  std::string out = "[";
  for (size_t i = 0; i < list.size(); ++i)
    out += (i ? separator : "") + Quoted(list[i]);
  return out + "]";
}

// A field's value as both formats write it: texts quoted and escaped alike.
std::string FormatValue(const Field& field, const char* listSeparator) {
  switch (field.kind) {
  case Field::Kind::Text:
    return Quoted(field.text);
  case Field::Kind::Number:
    return std::to_string(field.number);
  case Field::Kind::Boolean:
    return YesNo(field.boolean);
  case Field::Kind::TextList:
    return QuotedList(field.list, listSeparator);
  }
  return std::string();
}

// key=value for every field, for events without a layout of their own.
std::string GenericFields(const TranscriptEvent& event) {
  std::string out;
  for (const Field& field : event.fields)
    out += " " + field.key + "=" + FormatValue(field, ", ");
  return out;
}

} // namespace

std::string detail::LanguageName(long long value) {
  return NameOf(value, {"ChinesePRC", "ChineseTaiwan", "Czech", "English", "French", "German", "Hungarian",
                        "Italian", "Japanese", "Korean", "Polish", "PortugueseBrazilian", "Russian",
                        "Spanish", "Turkish"});
}

std::string FormatReadable(const TranscriptEvent& e) {
  const std::string& t = e.type;
  if (t == "addin")
    return "addin " + e.text("name") + " " + e.text("entry") + " -> " + YesNo(e.boolean("result"));
  if (t == "log")
    return "log [" + LevelName(e.number("level")) + "/" + LogTypeName(e.number("type")) + "] " +
           e.text("message");
  if (t == "messagebox")
    return "messagebox " + Quoted(e.text("text")) + " title=" + Quoted(e.text("title")) +
           " buttons=" + ButtonsName(e.number("buttons")) + " icon=" + IconName(e.number("icon")) + " -> " +
           AnswerName(e.number("answer"));
  if (t == "definition_added")
    return "definition_added " + e.text("id") + " name=" + Quoted(e.text("name")) +
           " tooltip=" + Quoted(e.text("tooltip")) + " resources=" + Quoted(e.text("resources"));
  if (t == "definition_removed")
    return "definition_removed " + e.text("id");
  if (t == "control_added")
    return "control_added " + e.text("parent") + "/" + e.text("id") +
           " position=" + Quoted(e.text("position")) + " before=" + YesNo(e.boolean("before")) +
           " promoted=" + YesNo(e.boolean("promoted"));
  if (t == "control_promoted")
    return "control_promoted " + e.text("parent") + "/" + e.text("id") +
           " promoted=" + YesNo(e.boolean("promoted"));
  if (t == "control_removed")
    return "control_removed " + e.text("parent") + "/" + e.text("id");
  if (t == "palette_added")
    return "palette_added " + e.text("id") + " name=" + Quoted(e.text("name")) +
           " url=" + Quoted(e.text("url")) + " visible=" + YesNo(e.boolean("visible")) +
           " close_button=" + YesNo(e.boolean("close_button")) +
           " resizable=" + YesNo(e.boolean("resizable")) + " size=" + std::to_string(e.number("width")) +
           "x" + std::to_string(e.number("height"));
  if (t == "palette_visible")
    return "palette_visible " + e.text("id") + " visible=" + YesNo(e.boolean("visible"));
  if (t == "palette_docking")
    return "palette_docking " + e.text("id") + " state=" + DockingName(e.number("state"));
  if (t == "palette_removed")
    return "palette_removed " + e.text("id");
  if (t == "preference" && e.text("name") == "userLanguage")
    return "preference userLanguage = " + detail::LanguageName(e.number("value"));
  if (t == "online_status")
    return std::string("online_status ") + (e.boolean("offline") ? "offline" : "online");
  if (t == "click")
    return "click " + e.text("id");
  if (t == "html")
    return "html " + e.text("palette") + " action=" + Quoted(e.text("action")) +
           " data=" + Quoted(e.text("data"));
  if (t == "open")
    return "open " + QuotedList(e.list("argv"));
  if (t == "program") {
    std::string out =
        "program " + QuotedList(e.list("argv")) + " -> exit " + std::to_string(e.number("exit"));
    if (!e.text("stdout").empty())
      out += " stdout=" + Quoted(e.text("stdout"));
    if (!e.text("stderr").empty())
      out += " stderr=" + Quoted(e.text("stderr"));
    return out;
  }
  if (t == "handler")
    return "handler " + e.text("addin") + " " + e.text("what") + " " + std::to_string(e.number("ms")) + " ms";
  if (t == "longest_call")
    return "longest_call into an add-in: " + e.text("addin") + " " + e.text("what") + " " +
           std::to_string(e.number("ms")) + " ms";
  if (t == "restart")
    return "restart: a new host process";
  if (t == "error")
    return "error " + e.text("message");
  if (t == "state") // a dump of several lines, asked for by the user
    return e.text("description");
  return t + GenericFields(e);
}

bool IsPlumbing(const TranscriptEvent& event) {
  return event.type == "custom_event";
}

std::string FormatJson(const TranscriptEvent& event) {
  std::string out = "{\"event\":\"" + JsonEscape(event.type) + "\"";
  for (const Field& field : event.fields)
    out += ",\"" + JsonEscape(field.key) + "\":" + FormatValue(field, ",");
  return out + "}";
}

} // namespace hostsim
