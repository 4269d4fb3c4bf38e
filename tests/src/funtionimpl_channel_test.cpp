#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "FuntionImplChannel.h"

namespace {

using FuntionImpl::GetChannelLabel;
using FuntionImpl::GetTrafficType;

struct LabelCase {
    int siteId;
    const char* url;
    const char* label;
};

TEST(ChannelLabel, EveryRowOfTheTable) {
    const LabelCase cases[] = {
        {1, "", "KV"},
        {2, "", "KVNET"},
        {5, "", "Tavlin"},
        {6, "", "Tool"},
        {8, "", "DZNET"},
        {10, "", "DZ"},
        {12, "", "Vellmark"},
        {14, "", "Card"},
        {54, "", "ZHCN"},
        {118, "", "ZHCN"},
        {61, "", "Morvik"},
        {66, "", "pellumo"},
        {74, "", "MorvikNet"},
        {84, "", "pellumonet"},
        {90, "", "downloads.softharbor.example"},
        {93, "", "QLKCN"},
        {127, "", "QLKCN"},
        {133, "", "QLKSoftware"},
        {290, "", "QLKSoftware"},
        {188, "", "Farrow"},
        {206, "", "TavlinNet"},
        {271, "", "Lumbra"},
        {272, "", "Zentik"},
        {305, "", "LumbraNet"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetChannelLabel(c.siteId, c.url), c.label) << c.siteId;
}

TEST(ChannelLabel, UrlMarkersAfterLowerCasing) {
    const LabelCase cases[] = {
        {2, "https://dl.example/kv_setup_bing_x.exe", "Bing"},
        {2, "https://dl.example/KV_SETUP_BING_X.EXE", "Bing"},
        {2, "https://dl.example/kv_Bing.Exe", "Bing"},
        {2, "https://dl.example/kv_YAHOO.exe", "Yahoo"},
        {2, "https://dl.example/kv_yahoo_bing_.exe", "Bing"},  // Bing is tested first
        {2, "https://dl.example/kvbing.exe", "KVNET"},
        {2, "https://dl.example/kv_bingo.exe", "KVNET"},
        {2, "https://dl.example/kv-setup.exe", "KVNET"},
        {61, "https://dl.example/kv_online.exe", "MorvikOnline"},
        {61, "https://dl.example/kv_onlinestore.exe", "MorvikOnline"},
        {61, "https://dl.example/kv-online.exe", "Morvik"},
        {84, "https://dl.example/kv_pellumobing.exe", "pellumonet-bing"},
        {84, "https://dl.example/KV_PELLUMOBING.EXE", "pellumonet-bing"},
        {84, "https://dl.example/kv_pellumobing_x.exe", "pellumonet"},
        // Markers belong to their own site only.
        {1, "https://dl.example/kv_bing.exe", "KV"},
        {66, "https://dl.example/kv_pellumobing.exe", "pellumo"},
        // Bytes outside ASCII are compared as they are.
        {2, "https://dl.example/\xC3\x84_bing_.exe", "Bing"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetChannelLabel(c.siteId, c.url), c.label) << c.siteId << " " << c.url;
}

TEST(ChannelLabel, OtherIdsGiveTheIdInDecimal) {
    const LabelCase cases[] = {
        {7, "", "7"},
        {0, "", "0"},
        {3, "https://x/_bing_", "3"},
        {119, "", "119"},
        {-3, "", "-3"},
        {INT_MAX, "", "2147483647"},
        {INT_MIN, "", "-2147483648"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetChannelLabel(c.siteId, c.url), c.label) << c.siteId;
}

TEST(TrafficType, PaidSitesArePpcEveryOtherIsSeo) {
    const int paid[] = {2, 8, 74, 84, 206, 305};
    for (int id = -2; id <= 400; ++id) {
        bool isPaid = std::find(std::begin(paid), std::end(paid), id) != std::end(paid);
        EXPECT_EQ(GetTrafficType(id), isPaid ? "PPC" : "SEO") << id;
    }
    EXPECT_EQ(GetTrafficType(INT_MIN), "SEO");
    EXPECT_EQ(GetTrafficType(INT_MAX), "SEO");
}

}  // namespace
