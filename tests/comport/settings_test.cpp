#include "comport/component.h"
#include "comport/errors.h"
#include "comport/settings.h"

#include <gtest/gtest.h>

#include <memory>

namespace comport {
namespace {

TEST(SettingsObjects, Defaults) {
  const TComTimeouts timeouts;
  EXPECT_EQ(timeouts.ReadInterval(), -1);
  EXPECT_EQ(timeouts.ReadTotalMultiplier(), 0);
  EXPECT_EQ(timeouts.ReadTotalConstant(), 0);
  EXPECT_EQ(timeouts.WriteTotalMultiplier(), 100);
  EXPECT_EQ(timeouts.WriteTotalConstant(), 1000);

  const TComFlowControl flow;
  EXPECT_FALSE(flow.OutCTSFlow());
  EXPECT_FALSE(flow.OutDSRFlow());
  EXPECT_EQ(flow.ControlDTR(), dtrDisable);
  EXPECT_EQ(flow.ControlRTS(), rtsDisable);
  EXPECT_FALSE(flow.XonXoffOut());
  EXPECT_FALSE(flow.XonXoffIn());
  EXPECT_FALSE(flow.DSRSensitivity());
  EXPECT_FALSE(flow.TxContinueOnXoff());
  EXPECT_EQ(flow.XonChar(), 17);
  EXPECT_EQ(flow.XoffChar(), 19);
  EXPECT_EQ(flow.FlowControl(), fcNone);

  const TComParity parity;
  EXPECT_EQ(parity.Bits(), prNone);
  EXPECT_FALSE(parity.Check());
  EXPECT_FALSE(parity.Replace());
  EXPECT_EQ(parity.ReplaceChar(), 0);

  const TComBuffer buffer;
  EXPECT_EQ(buffer.InputSize(), 1024);
  EXPECT_EQ(buffer.OutputSize(), 1024);
  EXPECT_EQ(buffer.ComPort(), nullptr);
}

TEST(SettingsObjects, EnumerationsHaveTheirFixedOrdinals) {
  EXPECT_EQ(sizeof(TBaudRate), 1u);
  EXPECT_EQ(br256000, 15);
  EXPECT_EQ(br9600, 7);
  EXPECT_EQ(sbTwoStopBits, 2);
  EXPECT_EQ(dbEight, 3);
  EXPECT_EQ(prSpace, 4);
  EXPECT_EQ(rtsToggle, 3);
  EXPECT_EQ(fcCustom, 3);
  EXPECT_EQ(smDisableEvents, 3);
  EXPECT_EQ(evRx80Full, 9);
  EXPECT_EQ(AllComEvents.Bits(), 0x03FF);
}

TEST(FlowControlPreset, DerivedFromFourFields) {
  TComFlowControl flow;
  flow.SetControlRTS(rtsEnable);
  EXPECT_EQ(flow.FlowControl(), fcCustom);
  flow.SetControlRTS(rtsDisable);
  flow.SetControlDTR(dtrHandshake);
  flow.SetOutDSRFlow(true);
  flow.SetDSRSensitivity(true);
  flow.SetTxContinueOnXoff(true);
  flow.SetXonChar('a');
  EXPECT_EQ(flow.FlowControl(), fcNone);
  flow.SetXonXoffIn(true);
  EXPECT_EQ(flow.FlowControl(), fcCustom);
  flow.SetXonXoffOut(true);
  EXPECT_EQ(flow.FlowControl(), fcSoftware);
  flow.SetOutCTSFlow(true);
  EXPECT_EQ(flow.FlowControl(), fcCustom);
}

TEST(FlowControlPreset, WritingSetsOnlyTheDerivedFields) {
  TComFlowControl flow;
  flow.SetControlDTR(dtrEnable);
  flow.SetOutDSRFlow(true);
  flow.SetXoffChar(5);

  flow.SetFlowControl(fcHardware);
  EXPECT_EQ(flow.FlowControl(), fcHardware);
  EXPECT_EQ(flow.ControlRTS(), rtsHandshake);
  EXPECT_TRUE(flow.OutCTSFlow());
  EXPECT_FALSE(flow.XonXoffIn());

  flow.SetFlowControl(fcSoftware);
  EXPECT_EQ(flow.FlowControl(), fcSoftware);
  EXPECT_EQ(flow.ControlRTS(), rtsDisable);
  EXPECT_FALSE(flow.OutCTSFlow());
  EXPECT_TRUE(flow.XonXoffIn());
  EXPECT_TRUE(flow.XonXoffOut());

  flow.SetFlowControl(fcCustom);  // changes nothing
  EXPECT_EQ(flow.FlowControl(), fcSoftware);

  flow.SetFlowControl(fcNone);
  EXPECT_EQ(flow.FlowControl(), fcNone);
  EXPECT_FALSE(flow.XonXoffOut());

  EXPECT_EQ(flow.ControlDTR(), dtrEnable);
  EXPECT_TRUE(flow.OutDSRFlow());
  EXPECT_EQ(flow.XoffChar(), 5);
}

TEST(BufferSizes, OddPositiveSizesRoundDown) {
  TComBuffer buffer;
  buffer.SetInputSize(1025);
  EXPECT_EQ(buffer.InputSize(), 1024);
  buffer.SetInputSize(1);
  EXPECT_EQ(buffer.InputSize(), 0);
  buffer.SetInputSize(-3);
  EXPECT_EQ(buffer.InputSize(), -3);
  buffer.SetOutputSize(4097);
  EXPECT_EQ(buffer.OutputSize(), 4096);
  buffer.SetOutputSize(-1);
  EXPECT_EQ(buffer.OutputSize(), -1);
}

TEST(CopyFrom, CopiesEveryFieldButNotThePort) {
  TComTimeouts source;
  source.SetReadInterval(1);
  source.SetReadTotalMultiplier(2);
  source.SetReadTotalConstant(3);
  source.SetWriteTotalMultiplier(4);
  source.SetWriteTotalConstant(5);
  TComTimeouts target;
  target.CopyFrom(&source);
  EXPECT_EQ(target.ReadInterval(), 1);
  EXPECT_EQ(target.ReadTotalMultiplier(), 2);
  EXPECT_EQ(target.ReadTotalConstant(), 3);
  EXPECT_EQ(target.WriteTotalMultiplier(), 4);
  EXPECT_EQ(target.WriteTotalConstant(), 5);

  TComFlowControl flowSource;
  flowSource.SetFlowControl(fcHardware);
  flowSource.SetOutDSRFlow(true);
  flowSource.SetControlDTR(dtrHandshake);
  flowSource.SetDSRSensitivity(true);
  flowSource.SetTxContinueOnXoff(true);
  flowSource.SetXonChar(1);
  flowSource.SetXoffChar(2);
  TComFlowControl flowTarget;
  flowTarget.CopyFrom(&flowSource);
  EXPECT_EQ(flowTarget.FlowControl(), fcHardware);
  EXPECT_TRUE(flowTarget.OutDSRFlow());
  EXPECT_EQ(flowTarget.ControlDTR(), dtrHandshake);
  EXPECT_TRUE(flowTarget.DSRSensitivity());
  EXPECT_TRUE(flowTarget.TxContinueOnXoff());
  EXPECT_EQ(flowTarget.XonChar(), 1);
  EXPECT_EQ(flowTarget.XoffChar(), 2);

  TComParity paritySource;
  paritySource.SetBits(prMark);
  paritySource.SetCheck(true);
  paritySource.SetReplace(true);
  paritySource.SetReplaceChar('?');
  TComParity parityTarget;
  parityTarget.CopyFrom(&paritySource);
  EXPECT_EQ(parityTarget.Bits(), prMark);
  EXPECT_TRUE(parityTarget.Check());
  EXPECT_TRUE(parityTarget.Replace());
  EXPECT_EQ(parityTarget.ReplaceChar(), '?');

  TComBuffer bufferSource;
  bufferSource.SetInputSize(10);
  bufferSource.SetOutputSize(20);
  TComBuffer bufferTarget;
  bufferTarget.CopyFrom(&bufferSource);
  EXPECT_EQ(bufferTarget.InputSize(), 10);
  EXPECT_EQ(bufferTarget.OutputSize(), 20);
}

TEST(CopyFrom, RefusesAnotherClassOrNoSource) {
  TComParity parity;
  TComBuffer buffer;
  try {
    parity.CopyFrom(&buffer);
    FAIL() << "no error";
  } catch (const EConvertError& error) {
    EXPECT_STREQ(error.what(), "Cannot assign a TComBuffer to a TComParity");
  }
  try {
    buffer.CopyFrom(nullptr);
    FAIL() << "no error";
  } catch (const EConvertError& error) {
    EXPECT_STREQ(error.what(), "Cannot assign a nil to a TComBuffer");
  }
  EXPECT_EQ(buffer.InputSize(), 1024);
}

// Counts its own destruction, to see what an owner frees.
class Probe : public TComponent {
 public:
  Probe(TComponent* owner, int& destroyed) : TComponent(owner), destroyed_(destroyed) {}
  ~Probe() override { ++destroyed_; }
  std::string ClassName() const override { return "Probe"; }

 private:
  int& destroyed_;
};

TEST(Component, OwnerFreesWhatItOwns) {
  int destroyed = 0;
  {
    Probe owner(nullptr, destroyed);
    auto* child = new Probe(&owner, destroyed);
    new Probe(child, destroyed);
    auto* freedEarly = new Probe(&owner, destroyed);
    delete freedEarly;  // leaves its owner's list
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(child->Owner(), &owner);
  }
  EXPECT_EQ(destroyed, 4);
}

TEST(Component, NameAndLoadingFlag) {
  int destroyed = 0;
  Probe probe(nullptr, destroyed);
  probe.SetName("ComPort1");
  EXPECT_EQ(probe.Name(), "ComPort1");
  EXPECT_FALSE(probe.Loading());
  probe.BeginLoading();
  EXPECT_TRUE(probe.Loading());
  probe.EndLoading();
  EXPECT_FALSE(probe.Loading());
}

}  // namespace
}  // namespace comport
