#include "ipc/blobmsg_json.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>

namespace ipc::blobmsg {

namespace {

using OrderedJson = nlohmann::ordered_json;

// The library's DOM builder, except that an integer too large for 64 bits (which the
// parser reports as a floating-point number) is clamped like the platform does.
class ClampingDomParser : public nlohmann::detail::json_sax_dom_parser<OrderedJson> {
 public:
  using Base = nlohmann::detail::json_sax_dom_parser<OrderedJson>;
  using Base::Base;

  bool number_float(double value, const std::string& raw) {
    if (raw.find_first_of(".eE") == std::string::npos) {
      if (raw.rfind('-', 0) == 0) return Base::number_integer(std::numeric_limits<std::int64_t>::min());
      return Base::number_integer(std::numeric_limits<std::int64_t>::max());
    }
    return Base::number_float(value, raw);
  }
};

constexpr int kMaxJsonDepth = 32;

bool Convert(const OrderedJson& value, std::string name, Members& out, int depth);

bool ConvertChildren(const OrderedJson& value, Node& node, int depth) {
  if (depth > kMaxJsonDepth) return false;
  if (value.is_object()) {
    for (const auto& [key, member] : value.items()) {
      if (!Convert(member, key, node.children, depth + 1)) return false;
    }
  } else {
    for (const auto& element : value) {
      if (!Convert(element, std::string(), node.children, depth + 1)) return false;
    }
  }
  return true;
}

bool Convert(const OrderedJson& value, std::string name, Members& out, int depth) {
  switch (value.type()) {
    case OrderedJson::value_t::object:
    case OrderedJson::value_t::array: {
      Node node = value.is_object() ? Node::Table(std::move(name)) : Node::Array(std::move(name));
      if (!ConvertChildren(value, node, depth)) return false;
      out.push_back(std::move(node));
      return true;
    }
    case OrderedJson::value_t::string: {
      const auto& text = value.get_ref<const std::string&>();
      out.push_back(Node::String(std::move(name), text.substr(0, ::strnlen(text.c_str(), text.size()))));
      return true;
    }
    case OrderedJson::value_t::boolean:
      out.push_back(Node::Bool(std::move(name), value.get<bool>()));
      return true;
    case OrderedJson::value_t::number_integer:
    case OrderedJson::value_t::number_unsigned: {
      std::int64_t number = 0;
      if (value.is_number_unsigned() && value.get<std::uint64_t>() > std::numeric_limits<std::int64_t>::max()) {
        number = std::numeric_limits<std::int64_t>::max();
      } else {
        number = value.get<std::int64_t>();
      }
      if (number >= std::numeric_limits<std::int32_t>::min() && number <= std::numeric_limits<std::int32_t>::max()) {
        out.push_back(Node::Int32(std::move(name), static_cast<std::int32_t>(number)));
      } else {
        out.push_back(Node::Int64(std::move(name), number));
      }
      return true;
    }
    case OrderedJson::value_t::number_float:
      out.push_back(Node::Double(std::move(name), value.get<double>()));
      return true;
    case OrderedJson::value_t::null:
      out.push_back(Node::Null(std::move(name)));
      return true;
    default:
      return false;
  }
}

class Printer {
 public:
  explicit Printer(bool indent) : indent_(indent) {}

  void List(const Members& members, bool array) {
    text_ += array ? '[' : '{';
    ++level_;
    Separator();
    bool first = true;
    for (const auto& member : members) {
      if (!first) {
        text_ += ',';
        Separator();
      }
      Element(member, array);
      first = false;
    }
    --level_;
    Separator();
    text_ += array ? ']' : '}';
  }

  void Element(const Node& node, bool without_name) {
    if (!without_name && !node.name.empty()) {
      String(node.name);
      text_ += indent_ ? ": " : ":";
    }
    Value(node);
  }

  void Value(const Node& node) {
    switch (node.type) {
      case Type::kUnspec:
        text_ += "null";
        break;
      case Type::kInt8:
        text_ += node.integer != 0 ? "true" : "false";
        break;
      case Type::kInt16:
      case Type::kInt32:
      case Type::kInt64:
        text_ += std::to_string(node.integer);
        break;
      case Type::kDouble: {
        char buffer[400];
        std::snprintf(buffer, sizeof buffer, "%lf", node.real);
        text_ += buffer;
        break;
      }
      case Type::kString:
        String(node.text);
        break;
      case Type::kArray:
      case Type::kTable:
        List(node.children, node.type == Type::kArray);
        break;
    }
  }

  std::string Take() { return std::move(text_); }

 private:
  void String(const std::string& value) {
    text_ += '"';
    for (const char character : value) {
      const auto byte = static_cast<unsigned char>(character);
      if (byte == 0) break;
      switch (character) {
        case '\b': text_ += "\\b"; break;
        case '\n': text_ += "\\n"; break;
        case '\t': text_ += "\\t"; break;
        case '\r': text_ += "\\r"; break;
        case '"': text_ += "\\\""; break;
        case '\\': text_ += "\\\\"; break;
        default:
          if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            text_ += escape;
          } else {
            text_ += character;
          }
      }
    }
    text_ += '"';
  }

  void Separator() {
    if (!indent_) return;
    text_ += '\n';
    text_.append(static_cast<std::size_t>(level_ < 16 ? level_ : 16), '\t');
  }

  bool indent_;
  int level_ = 0;
  std::string text_;
};

}  // namespace

std::optional<Members> FromJson(std::string_view text) {
  OrderedJson root;
  ClampingDomParser parser(root, false);
  if (!OrderedJson::sax_parse(text, &parser, nlohmann::detail::input_format_t::json, true, false) ||
      parser.is_errored() || !root.is_object()) {
    return std::nullopt;
  }
  Node table = Node::Table(std::string());
  if (!ConvertChildren(root, table, 0)) return std::nullopt;
  return std::move(table.children);
}

std::string ToJson(const Members& members) {
  Printer printer(false);
  printer.List(members, false);
  return printer.Take();
}

std::string ToIndentedJson(const Members& members) {
  Printer printer(true);
  printer.List(members, false);
  return printer.Take();
}

std::string ValueToJson(const Node& node) {
  Printer printer(false);
  printer.Value(node);
  return printer.Take();
}

}  // namespace ipc::blobmsg
