#include "support/Base64.h"

#include <gtest/gtest.h>
#include <websocketpp/base64/base64.hpp>

#include <random>
#include <string>
#include <vector>

namespace {

std::string Encode(const std::string& text) {
  return Base64Encode(reinterpret_cast<const unsigned char*>(text.data()),
                      static_cast<int>(text.size()));
}

TEST(Base64Encode, PaddingOfShortInputs) {
  EXPECT_EQ(Encode("abc"), "YWJj");
  EXPECT_EQ(Encode("ab"), "YWI=");
  EXPECT_EQ(Encode("a"), "YQ==");
  EXPECT_EQ(Encode(""), "");
}

TEST(Base64Encode, NonPositiveLengthOrNullGivesEmptyText) {
  const unsigned char bytes[] = {1, 2, 3};
  EXPECT_EQ(Base64Encode(bytes, 0), "");
  EXPECT_EQ(Base64Encode(bytes, -7), "");
  EXPECT_EQ(Base64Encode(nullptr, 3), "");
}

TEST(Base64Encode, LengthIsFourPerStartedGroupAndPaddingFollowsRemainder) {
  const std::vector<unsigned char> data(1002, 0xA5);
  const std::string n1000 = Base64Encode(data.data(), 1000);
  const std::string n1001 = Base64Encode(data.data(), 1001);
  const std::string n1002 = Base64Encode(data.data(), 1002);
  EXPECT_EQ(n1000.size(), 1336u);
  EXPECT_EQ(n1001.size(), 1336u);
  EXPECT_EQ(n1002.size(), 1336u);
  EXPECT_EQ(n1000.substr(1334), "==");
  EXPECT_EQ(n1001.substr(1334, 2).find('='), 1u);
  EXPECT_EQ(n1002.find('='), std::string::npos);
}

TEST(Base64Encode, AgreesWithAnIndependentEncoderOnEveryByteValueAndLength) {
  std::mt19937 rng(20261208);
  std::vector<unsigned char> data(600);
  for (auto& b : data) b = static_cast<unsigned char>(rng());
  for (int i = 0; i < 256; ++i) data[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i);
  for (int n = 1; n <= 600; n += 7) {
    ASSERT_EQ(Base64Encode(data.data(), n), websocketpp::base64_encode(data.data(), n)) << n;
  }
}

TEST(Base64Encode, OutputHasOnlyAlphabetAndPadding) {
  std::vector<unsigned char> data(999);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 37);
  const std::string text = Base64Encode(data.data(), static_cast<int>(data.size()));
  for (char c : text) {
    ASSERT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/' || c == '=')
        << int(c);
  }
}

}  // namespace
