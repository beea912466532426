// The shared case table (tests/standin/cases.json) through the real bridge
// on cefsim. What each case leaves behind (the messages the renderer sent,
// the game's messages, what the page saw) is written to a JSON file that
// the browser check of the page stand-in compares with, case by case.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bridge/bridge_message.h"
#include "cefsim/renderer_harness.h"
#include "cefsim/value_text.h"
#include "gtest/gtest.h"
#include "include/cef_v8.h"
#include "launcher/cef_launcher_application.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
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
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
          out += escaped;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out + "\"";
}

// Texts too long to keep (a 128 MiB name) are kept as their size and an
// FNV-1a hash of their UTF-8 bytes; the browser side shortens the same way.
std::string Shortened(const std::string& text) {
  constexpr size_t kLongestKept = 4096;
  if (text.size() <= kLongestKept) {
    return text;
  }
  uint32_t hash = 2166136261u;
  for (unsigned char c : text) {
    hash = (hash ^ c) * 16777619u;
  }
  char digest[16];
  std::snprintf(digest, sizeof(digest), "%08x", hash);
  return "<" + std::to_string(text.size()) + " bytes, fnv1a " + digest + ">";
}

std::string JsonList(const std::vector<std::string>& texts) {
  std::string out = "[";
  for (size_t i = 0; i < texts.size(); ++i) {
    out += (i ? ", " : "") + JsonString(Shortened(texts[i]));
  }
  return out + "]";
}

bool Has(const CefRefPtr<CefV8Value>& object, const char* key) {
  return object && object->IsObject() && object->HasValue(key);
}

std::vector<uint8_t> HexBytes(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(
        static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

CefRefPtr<CefValue> GameValue(const CefRefPtr<CefV8Value>& described);

CefRefPtr<CefListValue> GameList(const CefRefPtr<CefV8Value>& described) {
  CefRefPtr<CefListValue> list = CefListValue::Create();
  const int length = described->GetArrayLength();
  list->SetSize(static_cast<size_t>(length));
  for (int i = 0; i < length; ++i) {
    list->SetValue(static_cast<size_t>(i), GameValue(described->GetValue(i)));
  }
  return list;
}

CefRefPtr<CefDictionaryValue> Keyed(const CefRefPtr<CefV8Value>& pairs,
                                    bool stringKeys) {
  CefRefPtr<CefListValue> keys = CefListValue::Create();
  CefRefPtr<CefListValue> values = CefListValue::Create();
  const int length = pairs->GetArrayLength();
  for (int i = 0; i < length; ++i) {
    CefRefPtr<CefV8Value> pair = pairs->GetValue(i);
    CefRefPtr<CefV8Value> key = pair->GetValue(0);
    if (stringKeys) {
      keys->SetString(keys->GetSize(), key->GetStringValue());
    } else {
      keys->SetValue(keys->GetSize(), GameValue(key));
    }
    values->SetValue(values->GetSize(), GameValue(pair->GetValue(1)));
  }
  CefRefPtr<CefDictionaryValue> dictionary = CefDictionaryValue::Create();
  if (stringKeys) {
    dictionary->SetBool("isObject", true);
  }
  dictionary->SetList("keys", keys);
  dictionary->SetList("values", values);
  return dictionary;
}

// A message value from the table's notation (see cases.json "about").
CefRefPtr<CefValue> GameValue(const CefRefPtr<CefV8Value>& described) {
  CefRefPtr<CefValue> value = CefValue::Create();
  if (!described || described->IsNull()) {
    value->SetNull();
  } else if (Has(described, "int")) {
    value->SetInt(described->GetValue("int")->GetIntValue());
  } else if (Has(described, "double")) {
    CefRefPtr<CefV8Value> number = described->GetValue("double");
    if (number->IsString()) {
      const std::string text = number->GetStringValue().ToString();
      value->SetDouble(text == "-0"         ? -0.0
                       : text == "NaN"      ? std::nan("")
                       : text == "Infinity" ? HUGE_VAL
                                            : -HUGE_VAL);
    } else {
      value->SetDouble(number->GetDoubleValue());
    }
  } else if (Has(described, "bool")) {
    value->SetBool(described->GetValue("bool")->GetBoolValue());
  } else if (Has(described, "string")) {
    value->SetString(described->GetValue("string")->GetStringValue());
  } else if (Has(described, "binary")) {
    const std::vector<uint8_t> bytes =
        HexBytes(described->GetValue("binary")->GetStringValue().ToString());
    value->SetBinary(CefBinaryValue::Create(bytes.data(), bytes.size()));
  } else if (Has(described, "list")) {
    value->SetList(GameList(described->GetValue("list")));
  } else if (Has(described, "map")) {
    value->SetDictionary(Keyed(described->GetValue("map"), false));
  } else if (Has(described, "object")) {
    value->SetDictionary(Keyed(described->GetValue("object"), true));
  } else if (Has(described, "dict")) {
    CefRefPtr<CefDictionaryValue> dictionary = CefDictionaryValue::Create();
    CefRefPtr<CefV8Value> pairs = described->GetValue("dict");
    for (int i = 0; i < pairs->GetArrayLength(); ++i) {
      CefRefPtr<CefV8Value> pair = pairs->GetValue(i);
      dictionary->SetValue(pair->GetValue(0)->GetStringValue(),
                           GameValue(pair->GetValue(1)));
    }
    value->SetDictionary(dictionary);
  } else if (Has(described, "nest")) {
    value = GameValue(described->GetValue("in"));
    for (int i = described->GetValue("nest")->GetIntValue(); i > 0; --i) {
      CefRefPtr<CefListValue> list = CefListValue::Create();
      list->SetValue(0, value);
      value = CefValue::Create();
      value->SetList(list);
    }
  }
  return value;
}

// One game step, taken from the table before page script can change
// anything the reading relies on.
struct GameStep {
  CefRefPtr<CefProcessMessage> message;
  std::string text;
};

CefRefPtr<CefProcessMessage> BridgeMessage(int type,
                                           int32_t id,
                                           CefRefPtr<CefValue> payload,
                                           CefRefPtr<CefListValue> arguments) {
  CefRefPtr<CefProcessMessage> message =
      CefProcessMessage::Create(kBridgeMessageName);
  CefRefPtr<CefListValue> list = message->GetArgumentList();
  list->SetSize(arguments ? 4 : 3);
  list->SetInt(0, type);
  list->SetInt(1, id);
  list->SetValue(2, payload);
  if (arguments) {
    list->SetList(3, arguments);
  }
  return message;
}

std::vector<GameStep> GameSteps(const CefRefPtr<CefV8Value>& steps) {
  std::vector<GameStep> result;
  if (!steps || !steps->IsArray()) {
    return result;
  }
  int32_t nextGameCallId = 0;
  for (int i = 0; i < steps->GetArrayLength(); ++i) {
    CefRefPtr<CefV8Value> step = steps->GetValue(i);
    GameStep made;
    if (Has(step, "call")) {
      CefRefPtr<CefValue> path = CefValue::Create();
      path->SetString(step->GetValue("call")->GetStringValue());
      made.message = BridgeMessage(0, nextGameCallId++, path,
                                   GameList(step->GetValue("args")));
    } else if (Has(step, "error")) {
      CefRefPtr<CefValue> text = CefValue::Create();
      text->SetString(step->GetValue("error")->GetStringValue());
      made.message =
          BridgeMessage(2, step->GetValue("reply")->GetIntValue(), text, {});
    } else {
      made.message = BridgeMessage(1, step->GetValue("reply")->GetIntValue(),
                                   GameValue(step->GetValue("result")), {});
    }
    made.text = cefsim::MessageText(made.message);
    result.push_back(std::move(made));
  }
  return result;
}

std::vector<std::string> StringList(const CefRefPtr<CefV8Value>& array) {
  std::vector<std::string> result;
  if (!array || !array->IsArray()) {
    return result;
  }
  for (int i = 0; i < array->GetArrayLength(); ++i) {
    result.push_back(array->GetValue(i)->GetStringValue().ToString());
  }
  return result;
}

TEST(StandinCases, RealBridgeRecordsEveryCase) {
  // CTest's standin_cases_cefsim names the file; the browser side reads it.
  const char* resultsPath = std::getenv("CEF_LAUNCHER_STANDIN_RESULTS");
  if (!resultsPath) {
    GTEST_SKIP() << "run by the CTest test standin_cases_cefsim, which names "
                    "the results file in CEF_LAUNCHER_STANDIN_RESULTS";
  }
  const std::string sourceDir = CEF_LAUNCHER_SOURCE_DIR;
  const std::string table = ReadFile(sourceDir + "/tests/standin/cases.json");
  const std::string prelude = ReadFile(sourceDir + "/tests/standin/prelude.js");
  ASSERT_FALSE(table.empty());
  ASSERT_FALSE(prelude.empty());

  CefRefPtr<CefLauncherApplication> application = new CefLauncherApplication();
  auto harness = std::make_unique<cefsim::RendererHarness>(application);
  const std::string tableScript = "JSON.parse(" + JsonString(table) + ")";

  int cases = 0;
  {
    const cefsim::BrowserInfo browser = harness->OpenBrowser();
    cefsim::ScriptOutcome count = harness->RunScript(
        browser.frameIds.front(), tableScript + ".cases.length");
    ASSERT_TRUE(count.ok) << count.exception;
    cases = count.value->GetIntValue();
    harness->CloseBrowser(browser.id);
  }
  ASSERT_GT(cases, 0);

  std::string out = "{\n";
  for (int i = 0; i < cases; ++i) {
    // A browser of its own per case: what the browser side still holds of
    // an earlier case goes with that browser's frame.
    const cefsim::BrowserInfo browser = harness->OpenBrowser();
    const std::string frame = browser.frameIds.front();
    ASSERT_TRUE(harness->RunScript(frame, prelude).ok);
    const std::string item = tableScript + ".cases[" + std::to_string(i) + "]";
    cefsim::ScriptOutcome testCase = harness->RunScript(frame, item);
    ASSERT_TRUE(testCase.ok) << testCase.exception;
    // Reading script values needs their context entered.
    CefRefPtr<CefV8Context> context = harness->Frame(frame)->GetV8Context();
    ASSERT_TRUE(context && context->Enter());
    const std::string name =
        testCase.value->GetValue("name")->GetStringValue().ToString();
    const std::string page =
        testCase.value->GetValue("page")->GetStringValue().ToString();
    const std::vector<GameStep> steps =
        GameSteps(testCase.value->GetValue("game"));
    context->Exit();
    SCOPED_TRACE(name);

    nextCallId = 0;
    const size_t sentBefore = harness->SentMessageTexts(frame).size();
    cefsim::ScriptOutcome ran = harness->RunScript(
        frame, "try {\n" + page +
                   "\n} catch (e) { caseLog.add('threw ' + describe(e)); }");
    EXPECT_TRUE(ran.ok) << ran.exception;
    harness->RunUntilIdle();

    std::vector<std::string> gameTexts;
    std::vector<std::string> handled;
    for (const GameStep& step : steps) {
      gameTexts.push_back(step.text);
      handled.push_back(harness->DeliverMessage(frame, step.message) ? "true"
                                                                     : "false");
      harness->RunUntilIdle();
    }

    std::vector<std::string> sent = harness->SentMessageTexts(frame);
    sent.erase(sent.begin(), sent.begin() + static_cast<long>(sentBefore));
    cefsim::ScriptOutcome log = harness->RunScript(frame, "caseLog.entries()");
    ASSERT_TRUE(log.ok) << log.exception;
    context = harness->Frame(frame)->GetV8Context();
    ASSERT_TRUE(context && context->Enter());
    const std::vector<std::string> logged = StringList(log.value);
    context->Exit();

    harness->CloseBrowser(browser.id);
    out += (i ? ",\n" : "") + JsonString(name) +
           ": {\"sent\": " + JsonList(sent) +
           ", \"game\": " + JsonList(gameTexts) +
           ", \"handled\": " + JsonList(handled) +
           ", \"log\": " + JsonList(logged) + "}";
  }
  out += "\n}\n";
  harness.reset();
  nextCallId = 0;

  std::ofstream file(resultsPath, std::ios::binary);
  file << out;
  EXPECT_TRUE(file.good()) << resultsPath;
}

}  // namespace
