#include "capture/capture_target.h"

#include <gtest/gtest.h>

TEST(CaptureTarget, TheTextualFormRoundTripsEveryCase)
{
    for (const CaptureTarget& target :
         {CaptureTarget::display(0), CaptureTarget::display(4294967295u), CaptureTarget::window(62914561),
          CaptureTarget::application("firefox-esr.desktop"), CaptureTarget::audioOnly(),
          CaptureTarget::desktopChoice()}) {
        const auto parsed = CaptureTarget::fromString(target.toString());
        ASSERT_TRUE(parsed) << target.toString().toStdString();
        EXPECT_EQ(*parsed, target);
    }
    EXPECT_EQ(CaptureTarget::display(3).toString(), "display-3");
    EXPECT_EQ(CaptureTarget::window(41943042).toString(), "window-41943042");
    EXPECT_NE(CaptureTarget::desktopChoice(), CaptureTarget::display(0));
}

TEST(CaptureTarget, MalformedTextIsRefused)
{
    for (const char* text : {"", "display-", "display-4294967296", "display--1", "display-+1", "display- 1",
                             "display-1 ", "window-0x10", "window-１", "Display-1", "application-", "audio ",
                             "screen-1", "display-99999999999"})
        EXPECT_FALSE(CaptureTarget::fromString(QString::fromUtf8(text))) << text;
}
