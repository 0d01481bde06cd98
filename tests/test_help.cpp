// Help listing: header, entry layout and the exact text of entries.
#include <gtest/gtest.h>

#include <string>

#include "resrc.hpp"
#include "system.hpp"

namespace {

std::string capture_help(const char* name, const res_type* keys, const res_type* pos) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(RES_help_print(name, keys, pos), 1);
    return testing::internal::GetCapturedStdout();
}

std::string capture_item(res_type key) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(RES_help_item(key), 1);
    return testing::internal::GetCapturedStdout();
}

std::string header(const std::string& name) {
    return name + " syntax (version:" + QAZ_version() + ")\n" +
           "   " + name + " [options...]\n"
           "Keyed options...\n"
           " -df file    Resource/defaults file name\n"
           " -na name    Program name\n";
}

TEST(HelpTest, EmptyListsGiveHeaderOnly) {
    const res_type none[] = {RES_null};
    EXPECT_EQ(capture_help("prog", none, none), header("prog") + "Positional options...\n");
    EXPECT_EQ(capture_help("prog", nullptr, nullptr), header("prog") + "Positional options...\n");
}

TEST(HelpTest, LoopControlListing) {
    const res_type keys[] = {RES_help, RES_batch, RES_message, RES_file_path, RES_window_num, RES_parameter, RES_null};
    const res_type pos[] = {RES_command, RES_null};
    const std::string expected = header("reelctl") +
                                 " -h          Print this help\n"
                                 " -ba         Run program in batch mode\n"
                                 " -me level   Message level to be displayed:\n"
                                 "               none,print,error,warn,mess,out1,*out2,out3,out4,debug\n"
                                 " -fp path    File path\n"
                                 " -wn number  QAZLoop window number\n"
                                 " -pa param[,...]  Program parameters\n"
                                 "Positional options...\n"
                                 " command     Commands to be run\n";
    EXPECT_EQ(capture_help("reelctl", keys, pos), expected);
}

TEST(HelpTest, MultiLineEntries) {
    const std::string domain_tail =
        "               region=predefined region:\n"
        "                  us,ne,at,se,mw,sp,nw,sw,etc\n"
        "               proj=projection, clat=central latitude, clon=central longitude,\n"
        "               nx,ny=number of gridpoints and dx,dy=grid spacing\n";
    EXPECT_EQ(capture_item(RES_plot_domain),
              " -pd region or [proj],clat,clon[,nx,ny][,dx,dy]\n"
              "             Output plot domain\n" + domain_tail);
    EXPECT_EQ(capture_item(RES_grid_domain),
              " -gd region or [proj],clat,clon[,nx,ny][,dx,dy]\n"
              "             Grid domain\n" + domain_tail);
    EXPECT_EQ(capture_item(RES_region),
              " -re region or [proj],clat,clon[,nx,ny][,dx,dy]\n"
              "             Region to be used for plotting and gridding\n" + domain_tail +
              "               us,ne,at,se,mw,sp,nw,sw,var\n");
    EXPECT_EQ(capture_item(RES_object_param),
              " -oa smooth[,radinf,pass,conv,min]\n"
              "             Objective analysis parameters\n");
}

TEST(HelpTest, SingleLineEntries) {
    struct Case {
        res_type key;
        const char* text;
    };
    const Case cases[] = {
        {RES_ingestor, " -di name    Ingestor type: qaz,whole,split,ldm,none\n"},
        {RES_in_files, " -if type[,...]  Input data file type\n"},
        {RES_grid_type, " -gt number  Specific grid type (number) to use\n"},
        {RES_color_front, " -cofr hclr,lclr,cclr,wclr,oclr,tclr  Front colors\n"},
        {RES_color_pop, " -copp clr   Probablilty of precipitation color\n"},
        {RES_icon, " -ic         Open window iconified\n"},
        {RES_filename, " file        Input file name\n"},
        {RES_values, " val1 val2 ...  Input values:\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(capture_item(c.key), c.text) << "key " << c.key;
}

TEST(HelpTest, EveryStandardKeyHasOneEntry) {
    RES_defobj obj;
    for (int k = RES_help; k <= RES_values; ++k) {
        const std::string text = capture_item(static_cast<res_type>(k));
        ASSERT_FALSE(text.empty()) << "key " << k;
        // the entry names the resource's own option; "-in" for RES_inputg still reaches
        // it as a leading part of "input"
        RES_enter(&obj, static_cast<res_type>(k));
        if (!obj.cmd || k == RES_inputg) continue;
        const std::string option = std::string(" -") + obj.cmd;
        const char after = text.size() > option.size() ? text[option.size()] : '\0';
        EXPECT_TRUE(text.rfind(option, 0) == 0 && (after == ' ' || after == '\n' || after == '['))
            << text;
    }
    EXPECT_EQ(capture_item(RES_null), "");
    EXPECT_EQ(capture_item(static_cast<res_type>(100)), "");
}

}  // namespace
