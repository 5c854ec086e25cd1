// The translation of the driver's line settings into terminal settings, judged field by field on
// the pure function: a pseudo-terminal forces 8 bits and no parity, so the device cannot judge it.
#include <gtest/gtest.h>
#include <termios.h>

#include <cstdint>
#include <string>

#include "platform/TermiosSettings.h"

namespace platform {
namespace {

// What the driver writes for this program: 19200 bit/s, 8N1, DTR and RTS raised, no flow control.
TDcb ProgramDcb() {
  TDcb dcb;
  dcb.DCBlength = 28;
  dcb.BaudRate = 19200;
  dcb.Flags = DcbFlag::fBinary | DcbFlag::DtrControlEnable | DcbFlag::RtsControlEnable;  // 0x1011
  dcb.XonLim = 12;
  dcb.XoffLim = 12;
  dcb.ByteSize = 8;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  return dcb;
}

struct TRateCase {
  std::uint32_t Rate;
  speed_t Constant;  // B0 where the rate has none
};

class TermiosRate : public ::testing::TestWithParam<TRateCase> {};

TEST_P(TermiosRate, TakesItsConstantOrTheArbitraryRoute) {
  TDcb dcb = ProgramDcb();
  dcb.BaudRate = GetParam().Rate;
  const TTermiosSettings settings = TermiosFromDcb(dcb);
  ASSERT_TRUE(settings.Valid);
  EXPECT_EQ(settings.BaudRate, GetParam().Rate);
  EXPECT_EQ(SpeedConstantOf(GetParam().Rate), GetParam().Constant);
  if (GetParam().Constant != B0) {
    EXPECT_FALSE(settings.ArbitraryRate);
    EXPECT_EQ(cfgetospeed(&settings.Attributes), GetParam().Constant);
    EXPECT_EQ(cfgetispeed(&settings.Attributes), GetParam().Constant);
  } else {
    EXPECT_TRUE(settings.ArbitraryRate);
    // The stand-in speed is applied for a moment before the real rate: B0 would hang the line up.
    EXPECT_NE(cfgetospeed(&settings.Attributes), B0);
  }
}

// The driver's 13 rates, and two beyond them (a fast constant rate, a MIDI-style free one).
INSTANTIATE_TEST_SUITE_P(
    RateTable, TermiosRate,
    ::testing::Values(TRateCase{110, B110}, TRateCase{300, B300}, TRateCase{600, B600},
                      TRateCase{1200, B1200}, TRateCase{2400, B2400}, TRateCase{4800, B4800},
                      TRateCase{9600, B9600}, TRateCase{14400, B0}, TRateCase{19200, B19200},
                      TRateCase{38400, B38400}, TRateCase{56000, B0}, TRateCase{57600, B57600},
                      TRateCase{115200, B115200}, TRateCase{230400, B230400}, TRateCase{31250, B0}),
    [](const auto& info) { return std::to_string(info.param.Rate); });

struct TFormatCase {
  const char* Name;
  std::uint8_t ByteSize;
  std::uint8_t Parity;
  std::uint8_t StopBits;
  tcflag_t Size;
  tcflag_t ParityBits;  // of PARENB | PARODD | CMSPAR
  bool TwoStopBits;
};

class TermiosFormat : public ::testing::TestWithParam<TFormatCase> {};

TEST_P(TermiosFormat, SetsSizeParityAndStopBits) {
  const TFormatCase& c = GetParam();
  TDcb dcb = ProgramDcb();
  dcb.ByteSize = c.ByteSize;
  dcb.Parity = c.Parity;
  dcb.StopBits = c.StopBits;
  const TTermiosSettings settings = TermiosFromDcb(dcb);
  ASSERT_TRUE(settings.Valid);
  const tcflag_t cflag = settings.Attributes.c_cflag;
  EXPECT_EQ(cflag & CSIZE, c.Size);
  EXPECT_EQ(cflag & (PARENB | PARODD | CMSPAR), c.ParityBits);
  EXPECT_EQ((cflag & CSTOPB) != 0, c.TwoStopBits);
  // The driver never sets fParity: parity is sent but received bytes are not checked.
  EXPECT_EQ(settings.Attributes.c_iflag & INPCK, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    CharacterFormats, TermiosFormat,
    ::testing::Values(TFormatCase{"FiveNoneOne", 5, 0, 0, CS5, 0, false},
                      TFormatCase{"SixNoneOne", 6, 0, 0, CS6, 0, false},
                      TFormatCase{"SevenEvenOne", 7, 2, 0, CS7, PARENB, false},
                      TFormatCase{"EightOddOne", 8, 1, 0, CS8, PARENB | PARODD, false},
                      TFormatCase{"EightMarkOne", 8, 3, 0, CS8, PARENB | PARODD | CMSPAR, false},
                      TFormatCase{"EightSpaceOne", 8, 4, 0, CS8, PARENB | CMSPAR, false},
                      TFormatCase{"EightNoneTwo", 8, 0, 2, CS8, 0, true},
                      TFormatCase{"FiveNoneOneAndAHalf", 5, 0, 1, CS5, 0, true},
                      TFormatCase{"SevenSpaceTwo", 7, 4, 2, CS7, PARENB | CMSPAR, true}),
    [](const auto& info) { return std::string(info.param.Name); });

struct THandshakeCase {
  const char* Name;
  std::uint32_t Flags;
  bool RtsCts;
  bool XonOut;  // IXON: our output obeys the peer's XOFF
  bool XonIn;   // IXOFF: we send XOFF as our input fills
  bool Dtr;
  bool Rts;
  bool CheckParity;
};

class TermiosHandshake : public ::testing::TestWithParam<THandshakeCase> {};

TEST_P(TermiosHandshake, SetsFlowControlAndLineLevels) {
  const THandshakeCase& c = GetParam();
  TDcb dcb = ProgramDcb();
  dcb.Flags = c.Flags;
  const TTermiosSettings settings = TermiosFromDcb(dcb);
  ASSERT_TRUE(settings.Valid);
  EXPECT_EQ((settings.Attributes.c_cflag & CRTSCTS) != 0, c.RtsCts);
  EXPECT_EQ((settings.Attributes.c_iflag & IXON) != 0, c.XonOut);
  EXPECT_EQ((settings.Attributes.c_iflag & IXOFF) != 0, c.XonIn);
  EXPECT_EQ(settings.Dtr, c.Dtr);
  EXPECT_EQ(settings.Rts, c.Rts);
  EXPECT_EQ((settings.Attributes.c_iflag & INPCK) != 0, c.CheckParity);
}

using namespace DcbFlag;
INSTANTIATE_TEST_SUITE_P(
    Handshakes, TermiosHandshake,
    ::testing::Values(
        THandshakeCase{"ProgramNoneRtsOn", fBinary | DtrControlEnable | RtsControlEnable, false,
                       false, false, true, true, false},
        THandshakeCase{"NoneLinesDown", fBinary, false, false, false, false, false, false},
        THandshakeCase{"RtsCts", fBinary | DtrControlEnable | fOutxCtsFlow | RtsControlHandshake,
                       true, false, false, true, true, false},
        THandshakeCase{"CtsOutputOnly", fBinary | fOutxCtsFlow | RtsControlEnable, true, false,
                       false, false, true, false},
        // RTS driven by the input queue is flow control even without CTS governing our output.
        THandshakeCase{"RtsHandshakeOnly", fBinary | RtsControlHandshake, true, false, false, false,
                       true, false},
        THandshakeCase{"XonXoff", fBinary | DtrControlEnable | RtsControlEnable | fOutX | fInX,
                       false, true, true, true, true, false},
        THandshakeCase{"XonXoffOutputOnly", fBinary | fOutX, false, true, false, false, false,
                       false},
        THandshakeCase{"XonXoffInputOnly", fBinary | fInX, false, false, true, false, false, false},
        THandshakeCase{"DtrHandshakeRaisesDtr", fBinary | DtrControlHandshake, false, false, false,
                       true, false, false},
        THandshakeCase{"ParityChecked", fBinary | fParity, false, false, false, false, false,
                       true}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(TermiosFromDcb, UsesTheDcbsXonAndXoffCharacters) {
  const std::pair<char, char> pairs[] = {{17, 19}, {'A', 'B'}, {static_cast<char>(0xF1), 0x7F}};
  for (const auto& [xon, xoff] : pairs) {
    SCOPED_TRACE(static_cast<int>(static_cast<unsigned char>(xon)));
    TDcb dcb = ProgramDcb();
    dcb.Flags |= fOutX | fInX;
    dcb.XonChar = xon;
    dcb.XoffChar = xoff;
    const TTermiosSettings settings = TermiosFromDcb(dcb);
    ASSERT_TRUE(settings.Valid);
    EXPECT_EQ(settings.Attributes.c_cc[VSTART], static_cast<cc_t>(xon));
    EXPECT_EQ(settings.Attributes.c_cc[VSTOP], static_cast<cc_t>(xoff));
  }
}

TEST(TermiosFromDcb, IsRawWithReceiverOnAndNoCarrierWait) {
  const TTermiosSettings settings = TermiosFromDcb(ProgramDcb());
  ASSERT_TRUE(settings.Valid);
  const termios& t = settings.Attributes;
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ECHOE | ECHONL | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_iflag & (IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF),
            0u);
  EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), CREAD | CLOCAL);
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cc[VMIN], 1);
  EXPECT_EQ(t.c_cc[VTIME], 0);
  EXPECT_TRUE(settings.Dtr);
  EXPECT_TRUE(settings.Rts);
}

TEST(TermiosFromDcb, RefusesWhatNoLineCanDo) {
  struct TBadCase {
    const char* Name;
    void (*Spoil)(TDcb&);
  };
  const TBadCase cases[] = {
      {"rate 0", [](TDcb& d) { d.BaudRate = 0; }},
      {"4 data bits", [](TDcb& d) { d.ByteSize = 4; }},
      {"9 data bits", [](TDcb& d) { d.ByteSize = 9; }},
      {"0 data bits", [](TDcb& d) { d.ByteSize = 0; }},
      {"parity code 5", [](TDcb& d) { d.Parity = 5; }},
      {"stop-bit code 3", [](TDcb& d) { d.StopBits = 3; }},
  };
  for (const TBadCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TDcb dcb = ProgramDcb();
    c.Spoil(dcb);
    EXPECT_FALSE(TermiosFromDcb(dcb).Valid);
  }
}

}  // namespace
}  // namespace platform
