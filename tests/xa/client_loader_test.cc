// The client library loader against different sets of candidates. Each suite
// runs with the folder of stand-ins its name gives (Loader_<folder>), each
// case in a process of its own.
#include <gtest/gtest.h>

#include "platform/fault.h"
#include "testlib/client_standin_control.h"
#include "xa/client_library.h"
#include "zpor8dtc23/zpor8dtc23.h"

namespace zp {
namespace {

using test::StandinControl;

uint32_t loadsDuring(int32_t* result) {
  fault::resetCalls(fault::Point::kLibraryLoad);
  *result = load_client_xa_library();
  return fault::calls(fault::Point::kLibraryLoad);
}

TEST(Loader_none, EveryCallTriesTheWholeListAgain) {
  char db[] = "ORCL";
  EXPECT_EQ(hkMQXaoEnv(db), nullptr);
  for (int attempt = 0; attempt < 2; ++attempt) {
    int32_t result = -1;
    EXPECT_EQ(loadsDuring(&result), 4u) << "attempt " << attempt;
    EXPECT_EQ(result, 0);
  }
  EXPECT_EQ(client_switch(), nullptr);
  EXPECT_EQ(hkMQXaoSvcCtx(db), nullptr);
}

TEST(Loader_all, FirstCandidateWinsAndIsKept) {
  int32_t result = 0;
  EXPECT_EQ(loadsDuring(&result), 1u);
  ASSERT_EQ(result, 1);
  EXPECT_EQ(StandinControl::loaded().name(), kClientCandidates[0]);
  EXPECT_FALSE(client_close_string_flag());
  ASSERT_NE(client_switch(), nullptr);
  // Later calls neither load nor look up anything.
  xa_switch_t* held = client_switch();
  EXPECT_EQ(loadsDuring(&result), 0u);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(client_switch(), held);
}

TEST(Loader_all, FailedFirstLoadFallsToTheNextCandidate) {
  fault::arm(fault::Point::kLibraryLoad, 1);
  EXPECT_EQ(load_client_xa_library(), 1);
  fault::disarmAll();
  EXPECT_EQ(StandinControl::loaded().name(), kClientCandidates[1]);
  EXPECT_TRUE(client_close_string_flag());
}

TEST(Loader_oraclient8, SecondCandidateSetsTheCloseStringFlag) {
  int32_t result = 0;
  EXPECT_EQ(loadsDuring(&result), 2u);
  ASSERT_EQ(result, 1);
  EXPECT_EQ(StandinControl::loaded().name(), kClientCandidates[1]);
  EXPECT_TRUE(client_close_string_flag());
}

TEST(Loader_oraclient9, ThirdCandidateBeforeFourth) {
  ASSERT_EQ(load_client_xa_library(), 1);
  EXPECT_EQ(StandinControl::loaded().name(), kClientCandidates[2]);
  EXPECT_FALSE(client_close_string_flag());
}

TEST(Loader_oraclient10, LastCandidate) {
  ASSERT_EQ(load_client_xa_library(), 1);
  EXPECT_EQ(StandinControl::loaded().name(), kClientCandidates[3]);
  EXPECT_FALSE(client_close_string_flag());
}

TEST(Loader_xa80_noswitch, CandidateWithoutSwitchFailsForGood) {
  int32_t result = 1;
  EXPECT_EQ(loadsDuring(&result), 1u);
  EXPECT_EQ(result, 0);
  // The library stays held; later candidates are never tried.
  EXPECT_NE(g_clientXaLibrary.module.load(), nullptr);
  EXPECT_EQ(loadsDuring(&result), 0u);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(client_switch(), nullptr);
  EXPECT_FALSE(client_close_string_flag());
}

TEST(Loader_all, AccessorsRunOnTheCallersThread) {
  char db[] = "ORCL";
  ASSERT_EQ(load_client_xa_library(), 1);
  StandinControl standin = StandinControl::loaded();
  standin.reset();
  void* env = hkMQXaoEnv(db);
  void* context = hkMQXaoSvcCtx(db);
  ASSERT_NE(env, nullptr);
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(*static_cast<char*>(env), ZP_STANDIN_ENV_TAG);
  EXPECT_EQ(*static_cast<char*>(context), ZP_STANDIN_SVCCTX_TAG);
  const auto calls = standin.calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].operation, kStandinXaoEnv);
  EXPECT_EQ(calls[1].operation, kStandinXaoSvcCtx);
  for (const StandinCall& call : calls) {
    EXPECT_STREQ(call.text, "ORCL");
    EXPECT_EQ(call.threadId, platform::currentThreadId());
  }
}

TEST(Loader_noaccessors, AccessorsWithoutExportsAnswerNull) {
  char db[] = "ORCL";
  ASSERT_EQ(load_client_xa_library(), 1);
  EXPECT_EQ(hkMQXaoEnv(db), nullptr);
  EXPECT_EQ(hkMQXaoSvcCtx(db), nullptr);
}

}  // namespace
}  // namespace zp
