// An XML element read back from the validator's JUnit report: a small strict
// reader (declaration, elements, attributes, text, the five entities) that
// refuses mismatched or unclosed tags.
#ifndef TESTS_XMLELEMENT_H
#define TESTS_XMLELEMENT_H

#include <map>
#include <string>
#include <vector>

class XmlElement {
 public:
  std::string name;
  std::map<std::string, std::string> attributes;
  std::vector<XmlElement> children;
  std::string text;

  static bool Parse(const std::string& document, XmlElement* root, std::string* error) {
    size_t at = 0;
    if (document.compare(0, 5, "<?xml") == 0) {
      at = document.find("?>");
      if (at == std::string::npos) return *error = "unclosed declaration", false;
      at += 2;
    }
    Skip(document, &at);
    if (!root->Read(document, &at, error)) return false;
    Skip(document, &at);
    if (at != document.size()) return *error = "text after the root element", false;
    return true;
  }

  std::vector<const XmlElement*> Children(const std::string& child) const {
    std::vector<const XmlElement*> found;
    for (const XmlElement& c : children) {
      if (c.name == child) found.push_back(&c);
    }
    return found;
  }
  std::string Attribute(const std::string& key) const {
    const auto it = attributes.find(key);
    return it == attributes.end() ? "" : it->second;
  }

 private:
  static void Skip(const std::string& t, size_t* at) {
    while (*at < t.size() && (t[*at] == ' ' || t[*at] == '\n' || t[*at] == '\t' || t[*at] == '\r')) ++*at;
  }

  static bool Decode(const std::string& raw, std::string* out, std::string* error) {
    static const std::pair<const char*, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '<') return *error = "'<' in text", false;
      if (raw[i] != '&') {
        *out += raw[i];
        continue;
      }
      bool known = false;
      for (const auto& e : kEntities) {
        const size_t length = std::char_traits<char>::length(e.first);
        if (raw.compare(i, length, e.first) == 0) {
          *out += e.second;
          i += length - 1;
          known = true;
          break;
        }
      }
      if (!known) return *error = "unknown entity", false;
    }
    return true;
  }

  bool Read(const std::string& t, size_t* at, std::string* error) {
    if (*at >= t.size() || t[*at] != '<') return *error = "no element", false;
    size_t end = t.find_first_of(" \t\n/>", ++*at);
    if (end == std::string::npos) return *error = "unclosed tag", false;
    name = t.substr(*at, end - *at);
    *at = end;
    for (;;) {
      Skip(t, at);
      if (*at >= t.size()) return *error = "unclosed tag " + name, false;
      if (t.compare(*at, 2, "/>") == 0) return *at += 2, true;
      if (t[*at] == '>') break;
      const size_t eq = t.find('=', *at);
      if (eq == std::string::npos || eq + 1 >= t.size() || t[eq + 1] != '"') return *error = "bad attribute", false;
      const size_t close = t.find('"', eq + 2);
      if (close == std::string::npos) return *error = "unclosed attribute", false;
      std::string value;
      if (!Decode(t.substr(eq + 2, close - eq - 2), &value, error)) return false;
      attributes[t.substr(*at, eq - *at)] = value;
      *at = close + 1;
    }
    ++*at;  // '>'
    for (;;) {
      const size_t lt = t.find('<', *at);
      if (lt == std::string::npos) return *error = "no end tag for " + name, false;
      if (!Decode(t.substr(*at, lt - *at), &text, error)) return false;
      *at = lt;
      if (t.compare(*at, 2, "</") == 0) {
        const std::string end_tag = "</" + name + ">";
        if (t.compare(*at, end_tag.size(), end_tag) != 0) return *error = "mismatched end tag for " + name, false;
        *at += end_tag.size();
        return true;
      }
      XmlElement child;
      if (!child.Read(t, at, error)) return false;
      children.push_back(child);
    }
  }
};

#endif  // TESTS_XMLELEMENT_H
