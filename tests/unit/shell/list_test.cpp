#include "shell/list.h"

#include <gtest/gtest.h>

namespace {

TEST(ListRoutines, InsertAtFrontAndRemoveReturnsTheNextEntry) {
  ListEntry Head;
  ListEntry Entries[3];
  ListInit(&Head);
  EXPECT_TRUE(ListIsEmpty(&Head));
  for (ListEntry &Entry : Entries) {
    ListInsertFront(&Head, &Entry);
  }
  EXPECT_EQ(&Entries[2], ListFirst(&Head));
  EXPECT_EQ(&Entries[1], ListNext(&Entries[2]));
  EXPECT_TRUE(ListIsEnd(&Head, ListNext(&Entries[0])));
  EXPECT_EQ(&Head, Head.Backward->Forward);
  EXPECT_EQ(&Entries[0], Head.Backward);

  EXPECT_EQ(&Entries[0], ListRemove(&Entries[1]));
  EXPECT_EQ(&Entries[0], ListNext(&Entries[2]));
  EXPECT_EQ(&Entries[2], Entries[0].Backward);
  ListRemove(&Entries[2]);
  ListRemove(&Entries[0]);
  EXPECT_TRUE(ListIsEmpty(&Head));
  EXPECT_EQ(&Head, Head.Backward);
}

}  // namespace
