// Masking of account passwords in open strings: every way of writing an
// account option hides its password, nothing else changes, and a short output
// buffer holds the start of the same masked text.
#include "support/open_mask.h"

#include <gtest/gtest.h>

#include <string>

namespace zp {
namespace {

std::string masked(const std::string& text) {
  const size_t length = mask_open_string(text.data(), text.size(), nullptr, 0);
  std::string out(length + 1, '?');
  EXPECT_EQ(mask_open_string(text.data(), text.size(), &out[0], out.size()), length) << text;
  EXPECT_EQ(out[length], '\0') << text;
  out.resize(length);
  return out;
}

// The password in each row is made of bytes that appear nowhere else in the
// row, so that "no byte of it survives" can be checked byte by byte.
TEST(OpenMask, NoPasswordByteSurvives) {
  const struct {
    std::string text;
    std::string shown;
    std::string password;
  } rows[] = {
      {"ORACLE_XA+Acc=P/scott/Q#Z+SesTm=60", "ORACLE_XA+Acc=P/scott/****+SesTm=60", "Q#Z"},
      {"ORACLE_XA+Acc =P/scott/Q#Z+DB=x", "ORACLE_XA+Acc =P/scott/****+DB=x", "Q#Z"},
      {"ORACLE_XA+ Acc=P/scott/Q#Z+DB=x", "ORACLE_XA+ Acc=P/scott/****+DB=x", "Q#Z"},
      {"ORACLE_XA+Acc\t=P/scott/Q#Z", "ORACLE_XA+Acc\t=P/scott/****", "Q#Z"},
      {"ORACLE_XA+\t aCC \t= \tP/scott/Q#Z+DB=x", "ORACLE_XA+\t aCC \t= \tP/scott/****+DB=x",
       "Q#Z"},
      {"ORACLE_XA+acc=p/scott/Q#Z", "ORACLE_XA+acc=p/scott/****", "Q#Z"},
      {"ORACLE_XA+Acc=scott/Q#Z+DB=x", "ORACLE_XA+Acc=scott/****+DB=x", "Q#Z"},
      {"ORACLE_XA+Acc=Q#Z+DB=x", "ORACLE_XA+Acc=****+DB=x", "Q#Z"},
      {"ORACLE_XA+Acc=P/u/Q/#/Z+DB=x", "ORACLE_XA+Acc=P/u/****+DB=x", "Q#Z"},
      {"ORACLE_XA+Acc=u/Q/#/Z+DB=x", "ORACLE_XA+Acc=u/****+DB=x", "Q#Z"},
      {"ORACLE_XA+Acc=P/u/Q# Z +DB=x", "ORACLE_XA+Acc=P/u/****+DB=x", "Q#Z"},
      {"ORACLE_XA+Acc=P/u/Q=#Z", "ORACLE_XA+Acc=P/u/****", "Q#Z"},
      {std::string("ORACLE_XA+Acc=P/u/Q\0#Z+DB=x", 27), "ORACLE_XA+Acc=P/u/****+DB=x", "Q#Z"},
      {"ORACLE_XA+Acc=P/u/", "ORACLE_XA+Acc=P/u/****", ""},
      // Several account options, the last at the very end.
      {"ORACLE_XA+Acc=P/a/Q+DB=x+acc=b/#+ACC=Z", "ORACLE_XA+Acc=P/a/****+DB=x+acc=b/****+ACC=****",
       "Q#Z"},
      {"ORACLE_XA+DB=x+SqlNet=y+Acc=P/u/Q#Z", "ORACLE_XA+DB=x+SqlNet=y+Acc=P/u/****", "Q#Z"},
      // An account keyword after a blank, or at the start of a piece of text.
      {"ORACLE_XA Acc=P/u/Q#Z+DB=x", "ORACLE_XA Acc=P/u/****+DB=x", "Q#Z"},
      {"Acc=P/u/Q#Z", "Acc=P/u/****", "Q#Z"},
      {" acc = u/Q#Z", " acc = u/****", "Q#Z"},
      // Directly after the prefix, after punctuation or any control byte,
      // and with control bytes between the keyword and its '='.
      {"ORACLE_XAAcc=P/u/Q#Z", "ORACLE_XAAcc=P/u/****", "Q#Z"},
      {"oracle_xaACC=u/Q#Z+DB=x", "oracle_xaACC=u/****+DB=x", "Q#Z"},
      {"ORACLE_XA;Acc=P/u/Q#Z+DB=x", "ORACLE_XA;Acc=P/u/****+DB=x", "Q#Z"},
      {"ORACLE_XA+DB=x,acc=Q#Z", "ORACLE_XA+DB=x,acc=****", "Q#Z"},
      {"ORACLE_XA+SqlNet=(Acc=P/u/Q#Z)", "ORACLE_XA+SqlNet=(Acc=P/u/****", "Q#Z"},
      {"ORACLE_XA+Acc\v=P/u/Q#Z", "ORACLE_XA+Acc\v=P/u/****", "Q#Z"},
      {"ORACLE_XA\fAcc\x01\r\n=\vP/u/Q#Z+DB=x", "ORACLE_XA\fAcc\x01\r\n=\vP/u/****+DB=x", "Q#Z"},
      {"ORACLE_XA+\x7f"
       "Acc=u/Q#Z",
       "ORACLE_XA+\x7f"
       "Acc=u/****",
       "Q#Z"},
      // An account option inside another's value is masked in its turn.
      {"ORACLE_XA+Acc=P/u;Acc=Q#Z+DB=x", "ORACLE_XA+Acc=P/u;Acc=****+DB=x", "Q#Z"},
  };
  for (const auto& row : rows) {
    const std::string shown = masked(row.text);
    EXPECT_EQ(shown, row.shown) << row.text;
    for (char byte : row.password)
      EXPECT_EQ(shown.find(byte), std::string::npos) << row.text << ": '" << byte << "' survives";
  }
}

TEST(OpenMask, TextWithoutAPasswordStays) {
  for (const char* text : {
           "ORACLE_XA+Acc=P/scott+DB=a/b/c",  // a user alone
           "ORACLE_XA+Acc=p/scott",
           "ORACLE_XA+Acc=P/",
           "ORACLE_XA+Acc=+DB=a/b/c",  // an empty value
           "ORACLE_XA+Acc=",
           "ORACLE_XA+Acc= \t",
           "ORACLE_XA+Acc",  // no '='
           "ORACLE_XA+Acc+DB=a/b/c",
           "ORACLE_XA+Acc P/u/p",
           "ORACLE_XA+Accx=P/u/p+SqlNet=a",  // other keywords
           "ORACLE_XA+XAcc=P/u/p",
           "ORACLE_XA+DB=racc=P/u/p",
           "ORACLE_XA+DB=x+SqlNet=y+TraceFile=/tmp/a b.log",
           "+",
           "",
       }) {
    EXPECT_EQ(masked(text), text) << text;
  }
}

TEST(OpenMask, ShortBufferHoldsTheStartOfTheMaskedText) {
  // A long text with passwords at the start, in the middle and at the end.
  std::string text = "ORACLE_XA+Acc=P/scott/Q#Z";
  std::string shown = "ORACLE_XA+Acc=P/scott/****";
  for (int i = 0; i < 400; ++i) {
    text += "+DB=db" + std::to_string(i);
    shown += "+DB=db" + std::to_string(i);
  }
  text += "+aCC=u/Q#Z" + std::string(5000, 'x') + "+SqlNet=s+Acc=Q#Z";
  shown += "+aCC=u/****+SqlNet=s+Acc=****";
  ASSERT_EQ(masked(text), shown);
  for (size_t capacity : {size_t{1}, size_t{2}, size_t{20}, size_t{26}, size_t{27}, size_t{255},
                          shown.size(), shown.size() + 1}) {
    std::string out(capacity, '?');
    EXPECT_EQ(mask_open_string(text.data(), text.size(), &out[0], capacity), shown.size())
        << capacity;
    const size_t kept = capacity - 1 < shown.size() ? capacity - 1 : shown.size();
    EXPECT_EQ(out.substr(0, kept), shown.substr(0, kept)) << capacity;
    EXPECT_EQ(out[kept], '\0') << capacity;
  }
  char untouched = '?';
  EXPECT_EQ(mask_open_string(text.data(), text.size(), &untouched, 0), shown.size());
  EXPECT_EQ(untouched, '?') << "capacity 0 writes nothing";
  EXPECT_EQ(mask_open_string(nullptr, 0, nullptr, 0), 0u);
}

}  // namespace
}  // namespace zp
