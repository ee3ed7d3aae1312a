#include "soap/registry.h"
#include "soap/orvws_intf.h"
#include "soap/wsdl_publish_intf.h"

#include <gtest/gtest.h>

#include <thread>

#include "soap_fixture.h"

namespace orv::soap {
namespace {

using testing::FillRegistry;
using testing::StubLog;

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { FillRegistry(registry, log); }
  InterfaceRegistry registry;
  StubLog log;
};

// The interface found for `key` is the one named `expected` (none when null).
void ExpectNamed(const InterfacePtr& found, const char* expected, const std::string& key) {
  if (expected == nullptr) {
    EXPECT_EQ(found, nullptr) << key;
    return;
  }
  ASSERT_NE(found, nullptr) << key;
  EXPECT_EQ(found->name, expected) << key;
}

TEST_F(RegistryTest, RecordsOfBothInterfacesInRegistrationOrder) {
  const auto all = registry.Interfaces();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0]->name, "IWSDLPublish");
  EXPECT_EQ(all[0]->ns, "http://orvws.local/namespaces/Types");
  EXPECT_EQ(all[0]->documentation, "Lists all the PortTypes published by this Service");
  EXPECT_EQ(all[1]->name, "IOrvWs");
  EXPECT_EQ(all[1]->ns, "urn:UOrvWsIntf-IOrvWs");
  EXPECT_EQ(all[1]->documentation, "");
  for (const auto& i : all) EXPECT_TRUE(i->HasClass()) << i->name;
  EXPECT_EQ(all[0]->klass->name, "TWSDLPublish");
  EXPECT_EQ(all[1]->klass->name, "TOrvWs");

  const auto& ops = all[1]->operations;
  ASSERT_EQ(ops.size(), 4u);
  EXPECT_EQ(ops[0].name, "Auth");
  EXPECT_EQ(ops[3].name, "AddItemPesquisa");
  ASSERT_EQ(ops[3].params.size(), 4u);
  EXPECT_EQ(ops[3].params[0].name, "CodPesquisa");
  EXPECT_EQ(ops[3].params[0].type, ValueKind::Int32);
  EXPECT_EQ(ops[3].params[3].type, ValueKind::Float32);
  EXPECT_EQ(ops[0].result, ValueKind::Boolean);
  EXPECT_EQ(all[0]->operations[0].result, ValueKind::TextArray);
}

TEST_F(RegistryTest, SoapActionsOfOperations) {
  const auto orv = registry.FindByName("IOrvWs");
  EXPECT_EQ(orv->SoapAction(0), "urn:UOrvWsIntf-IOrvWs#Auth");
  EXPECT_EQ(orv->SoapAction(3), "urn:UOrvWsIntf-IOrvWs#AddItemPesquisa");
  const auto pub = registry.FindByName("IWSDLPublish");
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(pub->SoapAction(i), "http://orvws.local/namespaces/Types-IWSDLPublish");
  }
}

TEST_F(RegistryTest, FindBySoapAction) {
  struct Case {
    const char* action;
    const char* expected;  // nullptr: not found
  };
  const Case cases[] = {
      {"\"urn:UOrvWsIntf-IOrvWs#Auth\"", "IOrvWs"},
      {"urn:UOrvWsIntf-IOrvWs#Auth", "IOrvWs"},
      {"urn:UOrvWsIntf-IOrvWs#Exec", "IOrvWs"},
      {"urn:UOrvWsIntf-IOrvWs#Anything", "IOrvWs"},
      {"urn:UOrvWsIntf-IOrvWs", "IOrvWs"},
      {"\"urn:UOrvWsIntf-IOrvWs", "IOrvWs"},          // only the leading quote
      {"urn:uorvwsintf-iorvws#Auth", nullptr},        // case matters
      {"urn:UOrvWsIntf-IOrvWs/Auth", nullptr},        // no "#"
      {"urn:UOrvWsIntf-IOrvWs#Auth\"", "IOrvWs"},     // cut at "#" anyway
      {"urn:UOrvWsIntf-IOrvWs\"", nullptr},           // trailing quote alone is kept
      {"\"\"urn:UOrvWsIntf-IOrvWs\"", nullptr},       // one quote removed at each end only
      {"http://orvws.local/namespaces/Types-IWSDLPublish", "IWSDLPublish"},
      {"\"http://orvws.local/namespaces/Types-IWSDLPublish#GetPortTypeList\"", "IWSDLPublish"},
      {"http://orvws.local/namespaces/Types", nullptr},  // the namespace is not the action
      {"", nullptr},
      {"#", nullptr},
  };
  for (const auto& c : cases) {
    const auto found = registry.FindBySoapAction(c.action);
    ExpectNamed(found, c.expected, c.action);
  }
}

TEST_F(RegistryTest, FindByPathUsesTheLastSegmentInAnyCase) {
  struct Case {
    const char* path;
    const char* expected;
  };
  const Case cases[] = {
      {"/soap/IOrvWs", "IOrvWs"},       {"/soap/iorvws", "IOrvWs"},
      {"/soap/IORVWS", "IOrvWs"},       {"/soap/IWSDLPublish", "IWSDLPublish"},
      {"/x/y/IOrvWs", "IOrvWs"},        {"IOrvWs", "IOrvWs"},
      {"/soap", nullptr},               {"/soap/", nullptr},
      {"/soap/IOrvWs/", nullptr},       {"/soap/IOrvWsX", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    const auto found = registry.FindByPath(c.path);
    ExpectNamed(found, c.expected, c.path);
  }
}

TEST_F(RegistryTest, FindOperationIgnoresCase) {
  const auto orv = registry.FindByName("IOrvWs");
  EXPECT_EQ(orv->FindOperation("getsql"), 2u);
  EXPECT_EQ(orv->FindOperation("AUTH"), 0u);
  EXPECT_EQ(orv->FindOperation("AddItemPesquisa"), 3u);
  EXPECT_EQ(orv->FindOperation("GetSQLx"), std::nullopt);
  EXPECT_EQ(orv->FindOperation(""), std::nullopt);
}

TEST_F(RegistryTest, EachCallGetsItsOwnInstanceDestroyedWithItsLastReference) {
  const auto orv = registry.FindByPath("/soap/IOrvWs");
  {
    Invokable a = orv->MakeInstance(CallContext{"10.0.0.1"});
    Invokable b = orv->MakeInstance(CallContext{"10.0.0.2"});
    ASSERT_NE(a.As<IOrvWs>(), nullptr);
    EXPECT_NE(a.As<IOrvWs>(), b.As<IOrvWs>());
    EXPECT_EQ(a.As<IWSDLPublish>(), nullptr);
    EXPECT_EQ(log.alive, 2);
    EXPECT_EQ(log.ip, "10.0.0.2");
  }
  EXPECT_EQ(log.alive, 0);
  EXPECT_EQ(log.made, 2);
}

TEST(RegistryBinding, OrderOfRegistrationDoesNotMatter) {
  InterfaceRegistry r;
  StubLog log;
  // Class first, interface afterwards: the interface binds the class already there.
  r.RegisterInvokableClass(MakeInvokableClass<testing::StubOrvWs, IOrvWs>(
      "TOrvWs", [&log](const CallContext& c) { return std::make_unique<testing::StubOrvWs>(log, c); }));
  r.RegisterInterface(OrvWsInterface());
  ASSERT_TRUE(r.FindByName("IOrvWs")->HasClass());

  // A second class for the same interface does not replace the first binding.
  r.RegisterInvokableClass(MakeInvokableClass<testing::StubOrvWs, IOrvWs>(
      "TOther", [&log](const CallContext& c) { return std::make_unique<testing::StubOrvWs>(log, c); }));
  EXPECT_EQ(r.FindByName("IOrvWs")->klass->name, "TOrvWs");
  EXPECT_EQ(r.Classes().size(), 2u);

  // Registering the same interface again changes nothing.
  InterfaceInfo again = OrvWsInterface();
  again.documentation = "other";
  r.RegisterInterface(again, "urn:other");
  EXPECT_EQ(r.Interfaces().size(), 1u);
  EXPECT_EQ(r.FindByName("IOrvWs")->ns, "urn:UOrvWsIntf-IOrvWs");
}

TEST(RegistryBinding, ClassWithoutInterfacesIsRefused) {
  InterfaceRegistry r;
  InvokableClass c;
  c.name = "TNothing";
  try {
    r.RegisterInvokableClass(c);
    FAIL() << "no error";
  } catch (const RegistryError& e) {
    EXPECT_STREQ(e.what(), "Invokable Class TNothing implements no interfaces");
  }
  // A parent's interface table counts.
  c.parent_interfaces = {"IOrvWs"};
  EXPECT_NO_THROW(r.RegisterInvokableClass(c));
}

TEST(RegistryBinding, UnboundInterfaceMakesNoInstance) {
  InterfaceRegistry r;
  RegisterOrvWsInterface(r);
  const auto orv = r.FindByName("IOrvWs");
  EXPECT_FALSE(orv->HasClass());
  EXPECT_TRUE(orv->MakeInstance(CallContext{}).empty());
}

TEST(RegistryBinding, RecordsHandedOutStayUnchangedByLaterRegistrations) {
  InterfaceRegistry r;
  r.RegisterInterface(WSDLPublishInterface());
  const auto before = r.FindByName("IWSDLPublish");
  r.RegisterDefaultSoapAction("IWSDLPublish", "urn:x");
  EXPECT_EQ(before->default_soap_action, "");
  EXPECT_EQ(r.FindByName("IWSDLPublish")->default_soap_action, "urn:x");
}

TEST(RegistryConcurrency, LookupsFromManyThreads) {
  InterfaceRegistry r;
  StubLog log;
  FillRegistry(r, log);
  std::vector<std::thread> threads;
  std::atomic<int> found{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        if (r.FindBySoapAction("\"urn:UOrvWsIntf-IOrvWs#Auth\"") && r.FindByPath("/soap/iorvws"))
          ++found;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(found, 8000);
}

TEST(ValueTypes, XmlNamesOfTheValueTypes) {
  EXPECT_EQ(XmlTypeName(ValueKind::Text), "string");
  EXPECT_EQ(XmlTypeName(ValueKind::Int32), "int");
  EXPECT_EQ(XmlTypeName(ValueKind::Float32), "float");
  EXPECT_EQ(XmlTypeName(ValueKind::Boolean), "boolean");
  EXPECT_EQ(XmlTypeName(ValueKind::TextArray), "string");
  EXPECT_EQ(XmlTypeName(ValueKind::None), "");
  ASSERT_EQ(ValueTypes().size(), 5u);
  EXPECT_EQ(ValueTypes()[0].type_kind, "tkUnicodeString");
  EXPECT_EQ(ValueTypeOf(ValueKind::Boolean).type_kind, "tkEnumeration");
}

}  // namespace
}  // namespace orv::soap
