// Fidelity of cefsim's value classes to CEF 130 release builds: ownership
// moves, live references, invalidation, no coercion, and the hazards that
// must abort rather than quietly work.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "cefsim/value_text.h"
#include "include/cef_values.h"

namespace {

using cefsim::ValueText;

CefRefPtr<CefListValue> List() {
  return CefListValue::Create();
}

CefRefPtr<CefDictionaryValue> Dictionary() {
  return CefDictionaryValue::Create();
}

CefRefPtr<CefBinaryValue> Binary(std::vector<unsigned char> bytes) {
  return CefBinaryValue::Create(bytes.data(), bytes.size());
}

std::string Flags(CefRefPtr<CefListValue> list) {
  return std::string(list->IsValid() ? "valid" : "invalid") +
         (list->IsOwned() ? " owned" : " owner") +
         (list->IsReadOnly() ? " read-only" : " writable");
}

std::string Bool(bool value) {
  return value ? "true" : "false";
}

// Joins with spaces; a braced list is evaluated left to right, so the parts
// may call mutators in order.
std::string Seq(std::initializer_list<std::string> parts) {
  std::string out;
  for (const std::string& part : parts) {
    out += (out.empty() ? "" : " ") + part;
  }
  return out;
}

// Each row builds a situation and reports what the program would observe.
struct Trap {
  const char* name;
  std::function<std::string()> observe;
  const char* expected;
};

class ValueTrapTest : public testing::TestWithParam<Trap> {};

TEST_P(ValueTrapTest, BehavesLikeCef) {
  EXPECT_EQ(GetParam().observe(), GetParam().expected);
}

std::string TrapName(const testing::TestParamInfo<Trap>& info) {
  return info.param.name;
}

const Trap kOwnershipTraps[] = {
    {"CreatedListIsEmptyWritableOwner", [] { return Flags(List()); },
     "valid owner writable"},
    {"StoringCreatedListMovesItAndInvalidatesHandle",
     [] {
       auto args = List();
       auto inner = List();
       inner->SetInt(0, 7);
       args->SetList(0, inner);
       bool write = inner->SetInt(1, 8);
       return Flags(inner) + " write=" + Bool(write) +
              " size=" + std::to_string(inner->GetSize()) + " " +
              ValueText(args);
     },
     "invalid owner writable write=false size=0 [LIST [INT 7]]"},
    {"FillingAfterInsertIsLost",
     [] {
       auto args = List();
       auto d = Dictionary();
       args->SetDictionary(0, d);
       bool write = d->SetString("k", "v");
       return Bool(write) + " " + ValueText(args);
     },
     "false [DICTIONARY {}]"},
    {"ReferencesInsideMovedOwnerStayValidAndSeeTarget",
     [] {
       auto outer = List();
       outer->SetList(0, List());
       auto innerRef = outer->GetList(0);
       auto target = List();
       target->SetList(0, outer);
       innerRef->SetInt(0, 5);
       return Bool(innerRef->IsValid()) + " " + ValueText(target);
     },
     "true [LIST [LIST [INT 5]]]"},
    {"StoringReferenceCopiesAndSourceStaysPut",
     [] {
       auto a = List();
       a->SetList(0, List());
       auto ref = a->GetList(0);
       auto b = List();
       b->SetList(0, ref);
       ref->SetInt(0, 1);
       return Bool(ref->IsValid()) + " a=" + ValueText(a) +
              " b=" + ValueText(b);
     },
     "true a=[LIST [INT 1]] b=[LIST []]"},
    {"StoringInvalidatedReferenceStoresNullAndSucceeds",
     [] {
       auto a = List();
       a->SetList(0, List());
       auto ref = a->GetList(0);
       a->Remove(0);
       auto b = List();
       bool stored = b->SetList(0, ref);
       return Bool(stored) + " " + ValueText(b);
     },
     "true [NULL]"},
    {"GetReturnsLiveReference",
     [] {
       auto a = List();
       a->SetDictionary(0, Dictionary());
       a->GetDictionary(0)->SetInt("x", 1);
       auto ref = a->GetDictionary(0);
       return Bool(ref->IsOwned()) + " " + ValueText(a);
     },
     "true [DICTIONARY {\"x\": INT 1}]"},
    {"ReferenceDoesNotKeepOwnerAlive",
     [] {
       CefRefPtr<CefListValue> ref;
       {
         auto tmp = List();
         tmp->SetList(0, List());
         ref = tmp->GetList(0);
       }
       return Flags(ref) + " size=" + std::to_string(ref->GetSize());
     },
     "invalid owned writable size=0"},
    {"OverwriteInvalidatesOldEntryAndItsChildren",
     [] {
       auto a = List();
       auto inner = List();
       inner->SetList(0, List());
       a->SetList(0, inner);
       auto child = a->GetList(0);
       auto grandchild = child->GetList(0);
       a->SetInt(0, 3);
       return Bool(child->IsValid()) + Bool(grandchild->IsValid());
     },
     "falsefalse"},
    {"ClearInvalidatesReferences",
     [] {
       auto d = Dictionary();
       d->SetList("l", List());
       auto ref = d->GetList("l");
       bool cleared = d->Clear();
       return Bool(cleared) + " " + Bool(ref->IsValid());
     },
     "true false"},
    {"CopyIsWritableOwnerEvenFromReadOnly",
     [] {
       auto binary = Binary({1, 2});
       auto copy = binary->Copy();
       auto a = List();
       a->SetList(0, List());
       auto listCopy = a->GetList(0)->Copy();
       return Bool(copy->IsOwned()) + " " + Flags(listCopy);
     },
     "false valid owner writable"},
    {"ReinsertingInvalidReferenceViaValueStillStoresNull",
     [] {
       auto a = List();
       a->SetList(0, List());
       auto v = a->GetValue(0);
       a->SetNull(0);
       auto b = List();
       b->SetValue(0, v);
       return ValueText(b) + " " + ValueText(v);
     },
     "[NULL] NULL"},
};

INSTANTIATE_TEST_SUITE_P(Ownership,
                         ValueTrapTest,
                         testing::ValuesIn(kOwnershipTraps),
                         TrapName);

const Trap kCefValueTraps[] = {
    {"CreateIsNullNotInvalid",
     [] {
       auto v = CefValue::Create();
       return ValueText(v) + " " + Bool(v->IsValid()) + Bool(v->IsOwned()) +
              Bool(v->IsReadOnly());
     },
     "NULL truefalsefalse"},
    {"SetListKeepsTheSameObject",
     [] {
       auto v = CefValue::Create();
       auto l = List();
       v->SetList(l);
       v->GetList()->SetInt(0, 1);
       return Bool(v->GetList()->IsSame(l)) + " " + ValueText(l);
     },
     "true [INT 1]"},
    {"StoringWrappedOwnerDirectlyInvalidatesValueToo",
     [] {
       auto v = CefValue::Create();
       auto l = List();
       v->SetList(l);
       auto target = List();
       target->SetList(0, l);
       return Bool(l->IsValid()) + Bool(v->IsValid()) + " " + ValueText(v);
     },
     "falsefalse LIST <invalid>"},
    {"SetValueRepointsComplexValueAtStoredEntry",
     [] {
       auto v = CefValue::Create();
       auto l = List();
       v->SetList(l);
       auto target = List();
       target->SetValue(0, v);
       v->GetList()->SetInt(0, 1);
       return Bool(l->IsValid()) + Bool(v->IsValid()) + Bool(v->IsOwned()) +
              " " + ValueText(target);
     },
     "falsetruetrue [LIST [INT 1]]"},
    {"SetValueCopiesSimpleValue",
     [] {
       auto v = CefValue::Create();
       v->SetInt(1);
       auto target = List();
       target->SetValue(0, v);
       v->SetInt(2);
       return ValueText(target) + " " + ValueText(v);
     },
     "[INT 1] INT 2"},
    {"SimpleGetValueIsIndependentWritableCopy",
     [] {
       auto parent = List();
       parent->SetInt(0, 4);
       auto v = parent->GetValue(0);
       v->SetInt(9);
       return Bool(v->IsOwned()) + Bool(v->IsReadOnly()) + " " +
              ValueText(parent);
     },
     "falsefalse [INT 4]"},
    {"ComplexGetValueWrapsReference",
     [] {
       auto a = List();
       a->SetList(0, List());
       auto v = a->GetValue(0);
       v->GetList()->SetBool(0, true);
       return Bool(v->IsOwned()) + " " + ValueText(a);
     },
     "true [LIST [BOOL true]]"},
    {"TypeStaysListAfterWrappedObjectDies",
     [] {
       auto a = List();
       a->SetList(0, List());
       auto v = a->GetValue(0);
       a->Clear();
       return std::to_string(v->GetType()) + " " + Bool(v->IsValid());
     },
     "8 false"},
    {"CopyOfValueWrappingInvalidObjectIsInvalid",
     [] {
       auto a = List();
       a->SetList(0, List());
       auto v = a->GetValue(0);
       a->Clear();
       auto copy = v->Copy();
       return ValueText(copy) + " " + Bool(copy->IsValid());
     },
     "INVALID false"},
    {"SettersIgnoreReadOnlyAndAlwaysSucceed",
     [] {
       auto v = CefValue::Create();
       v->SetBinary(Binary({1}));
       return Seq({Bool(v->IsReadOnly()), Bool(v->SetInt(3)), ValueText(v)});
     },
     "true true INT 3"},
    {"DistinctSimpleValuesAreNeverSame",
     [] {
       auto a = CefValue::Create();
       auto b = CefValue::Create();
       a->SetInt(1);
       b->SetInt(1);
       return Bool(a->IsSame(b)) + Bool(a->IsEqual(b)) + Bool(a->IsSame(a));
     },
     "falsetruetrue"},
    {"EqualityIsTypeStrict",
     [] {
       auto a = CefValue::Create();
       auto b = CefValue::Create();
       a->SetInt(1);
       b->SetDouble(1.0);
       auto l1 = List();
       auto l2 = List();
       l1->SetInt(0, 1);
       l2->SetDouble(0, 1.0);
       return Bool(a->IsEqual(b)) + Bool(l1->IsEqual(l2));
     },
     "falsefalse"},
    {"NullArgumentsAreRefused",
     [] {
       auto a = List();
       auto v = CefValue::Create();
       return Seq({Bool(a->SetList(0, nullptr)), Bool(a->SetValue(0, nullptr)),
                   Bool(v->SetList(nullptr)), Bool(a->IsSame(nullptr)),
                   ValueText(a), ValueText(v)});
     },
     "false false false false [] NULL"},
};

INSTANTIATE_TEST_SUITE_P(CefValue,
                         ValueTrapTest,
                         testing::ValuesIn(kCefValueTraps),
                         TrapName);

const Trap kAccessTraps[] = {
    {"NoCoercionInGetters",
     [] {
       auto l = List();
       l->SetInt(0, 2);
       l->SetDouble(1, 2.5);
       l->SetInt(2, 1);
       return std::to_string(l->GetDouble(0)) + " " +
              std::to_string(l->GetInt(1)) + " " + Bool(l->GetBool(2)) + " [" +
              l->GetString(0).ToString() + "]";
     },
     "0.000000 0 false []"},
    {"GetTypePastTheEndIsInvalid",
     [] {
       auto l = List();
       l->SetNull(0);
       auto d = Dictionary();
       return std::to_string(l->GetType(0)) + " " +
              std::to_string(l->GetType(1)) + " " +
              std::to_string(d->GetType("missing"));
     },
     "1 0 0"},
    {"WritingPastTheEndPadsWithNull",
     [] {
       auto l = List();
       bool set = l->SetInt(5, 9);
       return Bool(set) + " " + ValueText(l);
     },
     "true [NULL, NULL, NULL, NULL, NULL, INT 9]"},
    {"SetSizeGrowsWithNullAndShrinksFromTheEnd",
     [] {
       auto l = List();
       l->SetInt(0, 1);
       return Seq({Bool(l->SetSize(3)), ValueText(l), Bool(l->SetSize(1)),
                   ValueText(l), Bool(List()->SetSize(0))});
     },
     "true [INT 1, NULL, NULL] true [INT 1] true"},
    {"NonFiniteDoublesAreStoredAsZero",
     [] {
       auto l = List();
       l->SetDouble(0, std::numeric_limits<double>::quiet_NaN());
       l->SetDouble(1, -std::numeric_limits<double>::infinity());
       l->SetDouble(2, -0.0);
       return ValueText(l) + " " + Bool(std::signbit(l->GetDouble(2)));
     },
     "[DOUBLE 0, DOUBLE 0, DOUBLE -0] true"},
    {"DoublesPrintShortestRoundTrip",
     [] {
       auto l = List();
       l->SetDouble(0, 0.1);
       l->SetDouble(1, 1e300);
       l->SetDouble(2, 5e-324);
       return ValueText(l);
     },
     "[DOUBLE 0.1, DOUBLE 1e+300, DOUBLE 5e-324]"},
    {"LoneSurrogateBecomesReplacementOnStore",
     [] {
       auto l = List();
       l->SetString(0, CefString(std::u16string(u"a\xD800"
                                                u"b")));
       return l->GetString(0).ToString() ==
                      "a\xEF\xBF\xBD"
                      "b"
                  ? "FFFD"
                  : "kept";
     },
     "FFFD"},
    {"EmbeddedNulSurvivesInStdString",
     [] {
       auto l = List();
       l->SetString(0, std::string("a\0b", 3));
       return std::to_string(l->GetString(0).length()) + " " + ValueText(l);
     },
     "3 [STRING \"a\\u0000b\"]"},
    {"EmptyStringValueHasNoBuffer",
     [] {
       auto l = List();
       l->SetString(0, "");
       CefString value = l->GetString(0);
       return std::to_string(l->GetType(0)) + " " +
              Bool(value.c_str() == nullptr);
     },
     "5 true"},
    {"DictionaryKeysSortedByUtf8Bytes",
     [] {
       auto d = Dictionary();
       d->SetInt("b", 1);
       d->SetInt("a", 2);
       d->SetInt("\xEF\xBD\x81", 3);      // U+FF41
       d->SetInt("\xF0\x9F\x98\x80", 4);  // U+1F600
       d->SetInt("B", 5);
       CefDictionaryValue::KeyList keys;
       d->GetKeys(keys);
       std::string order;
       for (const CefString& key : keys) {
         order += std::to_string(d->GetInt(key));
       }
       return order;
     },
     "52134"},
    {"EmptyKeyIsRefusedEverywhere",
     [] {
       auto d = Dictionary();
       return Seq({Bool(d->SetInt("", 1)), Bool(d->HasKey("")),
                   std::to_string(d->GetType("")), Bool(d->Remove("")),
                   std::to_string(d->GetSize())});
     },
     "false false 0 false 0"},
    {"DotsInKeysAreNotPaths",
     [] {
       auto d = Dictionary();
       d->SetInt("a.b", 1);
       return Bool(d->HasKey("a.b")) + Bool(d->HasKey("a"));
     },
     "truefalse"},
    {"GetKeysAppends",
     [] {
       auto d = Dictionary();
       d->SetInt("k", 1);
       CefDictionaryValue::KeyList keys{CefString("existing")};
       d->GetKeys(keys);
       return std::to_string(keys.size()) + " " + keys[0].ToString();
     },
     "2 existing"},
    {"CopyExcludingEmptyChildrenDropsOnlyDictionariesInDictionaries",
     [] {
       auto d = Dictionary();
       d->SetDictionary("empty", Dictionary());
       auto nested = Dictionary();
       nested->SetDictionary("inner", Dictionary());
       d->SetDictionary("onlyEmpty", nested);
       d->SetList("list", List());
       auto listWithDict = List();
       listWithDict->SetDictionary(0, Dictionary());
       d->SetList("listWithDict", listWithDict);
       return ValueText(d->Copy(true));
     },
     "{\"list\": LIST [], \"listWithDict\": LIST [DICTIONARY {}]}"},
    {"InvalidObjectReturnsDefaultsButKeepsFlags",
     [] {
       auto a = List();
       auto inner = List();
       inner->SetInt(0, 1);
       a->SetList(0, inner);
       return Seq({Flags(inner), std::to_string(inner->GetType(0)),
                   std::to_string(inner->GetInt(0)), Bool(inner->IsSame(inner)),
                   Bool(inner->IsEqual(inner)), Bool(inner->Copy() == nullptr),
                   Bool(inner->Clear()), Bool(inner->SetInt(0, 2))});
     },
     "invalid owner writable 0 0 true true true false false"},
    {"RemoveReturnsFalseOutOfRange",
     [] {
       auto l = List();
       l->SetInt(0, 1);
       return Seq({Bool(l->Remove(1)), Bool(l->Remove(0)), Bool(l->Remove(0))});
     },
     "false true false"},
};

INSTANTIATE_TEST_SUITE_P(Access,
                         ValueTrapTest,
                         testing::ValuesIn(kAccessTraps),
                         TrapName);

const Trap kBinaryTraps[] = {
    {"CreateWithNoBytesIsNull",
     [] {
       unsigned char byte = 1;
       return Bool(CefBinaryValue::Create(nullptr, 4) == nullptr) +
              Bool(CefBinaryValue::Create(&byte, 0) == nullptr);
     },
     "truetrue"},
    {"CreateCopiesTheBytes",
     [] {
       std::vector<unsigned char> bytes{1, 2, 3};
       auto binary = CefBinaryValue::Create(bytes.data(), bytes.size());
       bytes[0] = 9;
       return ValueText(binary);
     },
     "BINARY 3 bytes 01 02 03"},
    {"GetDataClampsAndRefusesOffsetAtEnd",
     [] {
       auto binary = Binary({1, 2, 3});
       unsigned char buffer[8] = {};
       return Seq({std::to_string(binary->GetData(buffer, 8, 1)),
                   std::to_string(buffer[0]), std::to_string(buffer[1]),
                   std::to_string(binary->GetData(buffer, 8, 3)),
                   std::to_string(binary->GetData(nullptr, 8, 0)),
                   std::to_string(binary->GetData(buffer, 0, 0))});
     },
     "2 2 3 0 0 0"},
    {"StoredBinaryIsReferenceWhenRead",
     [] {
       auto l = List();
       auto binary = Binary({7});
       l->SetBinary(0, binary);
       auto ref = l->GetBinary(0);
       auto v = l->GetValue(0);
       return Bool(binary->IsValid()) + Bool(ref->IsOwned()) +
              Bool(v->IsReadOnly()) + " " + ValueText(l);
     },
     "falsetruetrue [BINARY 1 bytes 07]"},
};

INSTANTIATE_TEST_SUITE_P(Binary,
                         ValueTrapTest,
                         testing::ValuesIn(kBinaryTraps),
                         TrapName);

TEST(ValueIdentity, EveryHandleIsANewProxyButIsSameHolds) {
  auto a = List();
  a->SetList(0, List());
  auto first = a->GetList(0);
  auto second = a->GetList(0);
  EXPECT_NE(first.get(), second.get());
  EXPECT_TRUE(first->IsSame(second));
  EXPECT_TRUE(first->IsEqual(second));
}

TEST(ValueIdentity, HasOneRefReportsTheSharedImplementation) {
  auto a = List();
  EXPECT_TRUE(a->HasOneRef());
  auto v = CefValue::Create();
  v->SetList(a);
  // The CefValue holds the implementation too.
  EXPECT_FALSE(a->HasOneRef());
}

// Hazards where real CEF hangs, deadlocks or dereferences freed or null
// memory: cefsim must stop the process with the reason.
struct Hazard {
  const char* name;
  std::function<void()> trigger;
  const char* message;
};

class ValueHazardTest : public testing::TestWithParam<Hazard> {};

TEST_P(ValueHazardTest, Aborts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(GetParam().trigger(), GetParam().message);
}

std::string HazardName(const testing::TestParamInfo<Hazard>& info) {
  return info.param.name;
}

const Hazard kHazards[] = {
    {"SetSizeZeroOnNonEmptyListHangs",
     [] {
       auto l = List();
       l->SetInt(0, 1);
       l->SetSize(0);
     },
     "SetSize\\(0\\)"},
    {"ReinsertingMovedOwnerCrashes",
     [] {
       auto inner = List();
       List()->SetList(0, inner);
       List()->SetList(0, inner);
     },
     "already moved"},
    {"StoringReferenceFromOwnTreeDeadlocks",
     [] {
       auto l = List();
       l->SetList(0, List());
       l->SetList(1, l->GetList(0));
     },
     "deadlock"},
    {"SetValueWithReferenceFromOwnTreeDeadlocks",
     [] {
       auto d = Dictionary();
       d->SetList("a", List());
       d->SetValue("b", d->GetValue("a"));
     },
     "deadlock"},
    {"IsSameOnSiblingsDeadlocks",
     [] {
       auto l = List();
       l->SetList(0, List());
       l->SetList(1, List());
       l->GetList(0)->IsSame(l->GetList(1));
     },
     "deadlock"},
    {"IsEqualChildAndParentDeadlocks",
     [] {
       auto l = List();
       l->SetList(0, List());
       l->IsEqual(l->GetList(0));
     },
     "deadlock"},
    {"CefValueIsEqualWithinOneTreeDeadlocks",
     [] {
       auto l = List();
       l->SetList(0, List());
       l->SetList(1, List());
       l->GetValue(0)->IsEqual(l->GetValue(1));
     },
     "deadlock"},
    {"ChildReferenceAfterListGrowthDangles",
     [] {
       auto l = List();
       l->SetList(0, List());
       auto child = l->GetList(0);
       l->SetInt(1, 1);
       child->GetSize();
     },
     "grew"},
    {"ValueFromSetValueAfterListGrowthDangles",
     [] {
       auto l = List();
       auto v = CefValue::Create();
       v->SetList(List());
       l->SetValue(0, v);
       l->SetSize(4);
       v->IsValid();
     },
     "grew"},
    {"ReferenceAfterEarlierRemoveIsShifted",
     [] {
       auto l = List();
       l->SetList(0, List());
       l->SetList(1, List());
       auto second = l->GetList(1);
       l->Remove(0);
       second->GetSize();
     },
     "Remove"},
    {"StoringInvalidTypedValueCrashes",
     [] {
       auto a = List();
       a->SetList(0, List());
       auto v = a->GetValue(0);
       a->Clear();
       List()->SetValue(0, v->Copy());
     },
     "VTYPE_INVALID"},
    {"StoringContainerInsideItselfCrashes",
     [] {
       auto l = List();
       l->SetList(0, List());
       l->GetList(0)->SetList(0, l);
     },
     "inside itself"},
    {"HugeIndexRunsOutOfMemory", [] { List()->SetInt(2000000000, 1); }, "huge"},
};

INSTANTIATE_TEST_SUITE_P(Hazards,
                         ValueHazardTest,
                         testing::ValuesIn(kHazards),
                         HazardName);

TEST(ValueHazards, GrandchildrenSurviveListGrowth) {
  auto l = List();
  auto inner = List();
  inner->SetList(0, List());
  l->SetList(0, inner);
  auto grandchild = l->GetList(0)->GetList(0);
  l->SetInt(5, 1);
  EXPECT_TRUE(grandchild->IsValid());
  EXPECT_TRUE(grandchild->SetInt(0, 2));
  EXPECT_EQ(ValueText(l),
            "[LIST [LIST [INT 2]], NULL, NULL, NULL, NULL, INT 1]");
}

TEST(ValueHazards, OverwriteInsideTheListDoesNotDangle) {
  auto l = List();
  l->SetList(0, List());
  l->SetInt(1, 0);
  auto first = l->GetList(0);
  l->SetInt(1, 5);
  EXPECT_TRUE(first->IsValid());
}

TEST(ValueHazards, DictionaryReferencesSurviveOtherChanges) {
  auto d = Dictionary();
  d->SetList("a", List());
  auto a = d->GetList("a");
  d->SetInt("b", 1);
  d->Remove("b");
  d->SetInt("c", 2);
  EXPECT_TRUE(a->IsValid());
}

}  // namespace
