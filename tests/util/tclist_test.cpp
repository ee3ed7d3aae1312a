#include <gtest/gtest.h>

#include "util/tclist.h"

namespace orv::util {
namespace {

struct Conn {
  int id;
};

TEST(TCList, SequenceOfOperations) {
  Conn c1{1}, c2{2}, c3{3};
  TCList<Conn*> list;
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_EQ(list.IndexOf("A"), -1);

  list.Add(&c1, "A");
  list.UnShift(&c2, "B");
  EXPECT_EQ(list.Length(), 2);
  EXPECT_EQ(list.Item(0), &c2);
  EXPECT_EQ(list.IndexOf("B"), 0);
  EXPECT_EQ(list.IndexOf("A"), 1);
  EXPECT_EQ(list.NameAt(1), "A");
  EXPECT_EQ(list.Shift(), &c2);
  EXPECT_EQ(list.Length(), 1);
  EXPECT_EQ(list.Item(0), &c1);
  EXPECT_EQ(list.Pop(), &c1);
  EXPECT_TRUE(list.IsEmpty());

  list.Push(&c1, "ANA");
  list.Add(&c2, "ANA");
  list.Add(&c3, "ana");
  EXPECT_EQ(list.IndexOf("ANA"), 0);   // first of equal names
  EXPECT_EQ(list.ByName("ANA"), &c1);
  EXPECT_EQ(list.IndexOf("ana"), 2);   // exact comparison
  EXPECT_EQ(list.IndexOf("Ana"), -1);
  EXPECT_EQ(list.IndexOf("ANA "), -1);
  EXPECT_EQ(list.Pop(), &c3);
  EXPECT_EQ(list.Shift(), &c1);
  EXPECT_EQ(list.ByName("ANA"), &c2);
}

TEST(TCList, OperationsOutsideTheirPreconditionsRaise) {
  Conn c{1};
  TCList<Conn*> list;
  EXPECT_THROW(list.Pop(), TCListError);
  EXPECT_THROW(list.Shift(), TCListError);
  EXPECT_THROW(list.Item(0), TCListError);
  EXPECT_THROW(list.ByName(""), TCListError);
  list.Add(&c, "A");
  for (int index : {-1, 1, 1 << 30}) {
    EXPECT_THROW(list.Item(index), TCListError) << index;
    EXPECT_THROW(list.NameAt(index), TCListError) << index;
  }
  EXPECT_THROW(list.ByName("a"), TCListError);
  EXPECT_EQ(list.Length(), 1);   // failed calls change nothing
  EXPECT_EQ(list.ByName("A"), &c);
}

}  // namespace
}  // namespace orv::util
