// Pins: connection from both sides, the negotiation over offered types, refusals and undo, pin
// information and the media type enumerator.
#include <string>
#include <vector>

#include "platform/com/taskmem.h"
#include "tests/framework/framework_test.h"
#include "tests/framework/test_filters.h"

using namespace testing_filters;

namespace {

class BasePin : public FrameworkTest {
 protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    source = Create<CTestSourceFilter>();
    sink = Create<CTestSinkFilter>(2);
    output = source->Output();
    input = sink->Input(0);
  }
  void TearDown() override {
    sink->Interface()->Stop();
    output->Disconnect();
    input->Disconnect();
    sink->Input(1)->Disconnect();
    source->Interface()->Release();
    sink->Interface()->Release();
    FrameworkTest::TearDown();
  }
  // Makes the input pin record each type it is asked about and answer `answer`.
  void RecordTypes(HRESULT answer) {
    input->accept = [this, answer](const AM_MEDIA_TYPE* type) {
      seen.push_back(CMediaType(*type));
      return answer;
    };
  }

  CTestSourceFilter* source = nullptr;
  CTestSinkFilter* sink = nullptr;
  CTestOutputPin* output = nullptr;
  CTestInputPin* input = nullptr;
  std::vector<CMediaType> seen;
};

struct Refusal {
  HRESULT checkResult;
  HRESULT reported;
};

TEST_F(BasePin, ReceiveConnectionReportsRefusalsByClass) {
  const Refusal cases[] = {
      {S_FALSE, VFW_E_TYPE_NOT_ACCEPTED},      {E_FAIL, VFW_E_TYPE_NOT_ACCEPTED},
      {E_INVALIDARG, VFW_E_TYPE_NOT_ACCEPTED}, {E_OUTOFMEMORY, E_OUTOFMEMORY},
      {VFW_E_INVALIDMEDIATYPE, VFW_E_INVALIDMEDIATYPE},
  };
  CMediaType type = VideoType();
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.checkResult);
    input->accept = [&](const AM_MEDIA_TYPE*) { return c.checkResult; };
    input->calls.clear();
    EXPECT_EQ(input->ReceiveConnection(output, &type), c.reported);
    EXPECT_FALSE(input->IsConnected());
    EXPECT_EQ(input->calls, std::vector<std::string>{"BreakConnect"});
    EXPECT_EQ(input->QueryAccept(&type), FAILED(c.checkResult) ? S_FALSE : c.checkResult);
  }
}

TEST_F(BasePin, ReceiveConnectionChecksStateDirectionAndArguments) {
  CMediaType type = VideoType();
  EXPECT_EQ(input->ReceiveConnection(nullptr, &type), E_POINTER);
  EXPECT_EQ(input->ReceiveConnection(output, nullptr), E_POINTER);
  // A peer of the same direction.
  EXPECT_EQ(input->ReceiveConnection(sink->Input(1), &type), VFW_E_INVALID_DIRECTION);
  EXPECT_FALSE(input->IsConnected());

  ASSERT_EQ(input->ReceiveConnection(output, &type), S_OK);
  EXPECT_EQ(input->ReceiveConnection(output, &type), VFW_E_ALREADY_CONNECTED);
  AM_MEDIA_TYPE agreed;
  ASSERT_EQ(input->ConnectionMediaType(&agreed), S_OK);
  EXPECT_TRUE(CMediaType(agreed) == type);
  FreeMediaType(agreed);
  IPin* peer = nullptr;
  ASSERT_EQ(input->ConnectedTo(&peer), S_OK);
  EXPECT_EQ(peer, static_cast<IPin*>(output));
  peer->Release();

  ASSERT_EQ(sink->Interface()->Run(0), S_OK);
  EXPECT_EQ(sink->Input(1)->ReceiveConnection(output, &type), VFW_E_NOT_STOPPED);
  EXPECT_EQ(input->Disconnect(), VFW_E_NOT_STOPPED);
  EXPECT_TRUE(input->IsConnected());
  sink->Interface()->Stop();
  EXPECT_EQ(input->Disconnect(), S_OK);
  EXPECT_EQ(input->Disconnect(), S_FALSE);
  EXPECT_EQ(input->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(peer, nullptr);
  EXPECT_EQ(input->ConnectionMediaType(&agreed), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(agreed.majortype, GUID_NULL);
  EXPECT_EQ(agreed.cbFormat, 0u);
}

TEST_F(BasePin, FailedCompletionDropsThePeer) {
  CMediaType type = VideoType();
  input->completeResult = E_UNEXPECTED;
  EXPECT_EQ(input->ReceiveConnection(output, &type), E_UNEXPECTED);
  EXPECT_FALSE(input->IsConnected());
  EXPECT_EQ(input->calls.back(), "BreakConnect");
}

TEST_F(BasePin, ConnectWithAFullTypeTriesOnlyThatType) {
  output->offered = {VideoType(320), VideoType(640)};
  RecordTypes(E_FAIL);
  CMediaType wanted = VideoType(640);
  EXPECT_EQ(output->Connect(input, &wanted), VFW_E_TYPE_NOT_ACCEPTED);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_TRUE(seen[0] == wanted);
  EXPECT_FALSE(output->IsConnected());
}

TEST_F(BasePin, ConnectWithAPartialTypeOffersThePeersMatchingTypesFirst) {
  input->offered = {AudioType(), VideoType(100), VideoType(200)};
  output->offered = {VideoType(300), VideoType(200)};
  RecordTypes(E_FAIL);
  CMediaType partial;
  partial.SetType(MEDIATYPE_Video);  // no format type: partially specified
  EXPECT_EQ(output->Connect(input, &partial), VFW_E_NO_ACCEPTABLE_TYPES);
  // Each side's types in turn, audio filtered out; the output pin's own check drops 100.
  std::vector<LONG> widths;
  for (const CMediaType& t : seen) widths.push_back(reinterpret_cast<VIDEOINFOHEADER*>(t.pbFormat)->bmiHeader.biWidth);
  EXPECT_EQ(widths, (std::vector<LONG>{200, 300, 200}));

  seen.clear();
  input->accept = [&](const AM_MEDIA_TYPE* type) {
    seen.push_back(CMediaType(*type));
    return reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->bmiHeader.biWidth == 300 ? S_OK : E_FAIL;
  };
  ASSERT_EQ(output->Connect(input, nullptr), S_OK);
  AM_MEDIA_TYPE agreed;
  ASSERT_EQ(output->ConnectionMediaType(&agreed), S_OK);
  EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER*>(agreed.pbFormat)->bmiHeader.biWidth, 300);
  FreeMediaType(agreed);
  EXPECT_EQ(output->Connect(input, nullptr), VFW_E_ALREADY_CONNECTED);
}

TEST_F(BasePin, SignificantFailureOutranksSoftRefusals) {
  output->offered = {VideoType(100), VideoType(200)};
  input->accept = [](const AM_MEDIA_TYPE* type) {
    return reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->bmiHeader.biWidth == 200 ? E_OUTOFMEMORY : E_FAIL;
  };
  EXPECT_EQ(output->Connect(input, nullptr), E_OUTOFMEMORY);
  EXPECT_EQ(output->Connect(nullptr, nullptr), E_POINTER);
}

TEST_F(BasePin, FailureAfterThePeerAcceptedUndoesBothSides) {
  // The output pin's CompleteConnect fails (an allocator it cannot size): the peer is told to
  // disconnect, and both pins end unconnected.
  output->bufferCount = -1;
  EXPECT_EQ(output->Connect(input, nullptr), VFW_E_NO_ACCEPTABLE_TYPES) << "E_INVALIDARG is a soft refusal";
  EXPECT_FALSE(output->IsConnected());
  EXPECT_FALSE(input->IsConnected());
  EXPECT_EQ(input->calls, (std::vector<std::string>{"CompleteConnect", "BreakConnect"}));
  // The peer's own refusal after accepting the type leaves both unconnected as well.
  output->bufferCount = 2;
  input->completeResult = E_ABORT;
  EXPECT_EQ(output->Connect(input, nullptr), E_ABORT);
  EXPECT_FALSE(output->IsConnected());
  EXPECT_FALSE(input->IsConnected());
  ASSERT_EQ(sink->Interface()->Pause(), S_OK);
  input->completeResult = S_OK;
  EXPECT_EQ(output->Connect(sink->Input(1), nullptr), VFW_E_NOT_STOPPED) << "the peer's filter is running";
}

TEST_F(BasePin, InformationAboutThePin) {
  std::u16string longName(200, u'p');
  auto* pin = new CTestInputPin(sink, sink->Lock(), longName.c_str());
  LPWSTR id = nullptr;
  ASSERT_EQ(pin->QueryId(&id), S_OK);
  EXPECT_EQ(std::u16string(id), longName);
  CoTaskMemFree(id);
  PIN_INFO info;
  ASSERT_EQ(pin->QueryPinInfo(&info), S_OK);
  EXPECT_EQ(std::u16string(info.achName), longName.substr(0, 127));
  EXPECT_EQ(info.dir, PINDIR_INPUT);
  EXPECT_EQ(info.pFilter, sink->Interface());
  info.pFilter->Release();
  delete pin;

  PIN_DIRECTION direction;
  EXPECT_EQ(output->QueryDirection(&direction), S_OK);
  EXPECT_EQ(direction, PINDIR_OUTPUT);
  for (HRESULT hr : {input->QueryDirection(nullptr), input->QueryId(nullptr), input->QueryPinInfo(nullptr),
                     input->ConnectedTo(nullptr), input->ConnectionMediaType(nullptr), input->QueryAccept(nullptr),
                     input->EnumMediaTypes(nullptr)})
    EXPECT_EQ(hr, E_POINTER);
  EXPECT_EQ(input->QueryInternalConnections(nullptr, nullptr), E_NOTIMPL);
  EXPECT_EQ(input->NewSegment(10, 20, 2.0), S_OK);
  EXPECT_EQ(input->CurrentStopTime(), 20);
  EXPECT_EQ(input->CurrentRate(), 2.0);
}

TEST_F(BasePin, MediaTypeEnumeration) {
  IEnumMediaTypes* e = nullptr;
  ASSERT_EQ(input->EnumMediaTypes(&e), S_OK);
  AM_MEDIA_TYPE* types[3] = {};
  ULONG fetched = 9;
  EXPECT_EQ(e->Next(1, types, &fetched), S_FALSE) << "the base offers no types";
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(e->Skip(0), S_OK);
  EXPECT_EQ(e->Skip(1), S_FALSE);
  EXPECT_EQ(e->Next(2, types, nullptr), E_INVALIDARG);
  e->Release();

  input->offered = {VideoType(1), VideoType(2)};
  ASSERT_EQ(input->EnumMediaTypes(&e), S_OK);
  ASSERT_EQ(e->Next(3, types, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_TRUE(CMediaType(*types[1]) == input->offered[1]);
  EXPECT_NE(types[1]->pbFormat, input->offered[1].pbFormat) << "each record owns its block";
  DeleteMediaType(types[0]);
  DeleteMediaType(types[1]);
  e->Reset();
  EXPECT_EQ(e->Skip(1), S_OK);
  IEnumMediaTypes* clone = nullptr;
  ASSERT_EQ(e->Clone(&clone), S_OK);
  ASSERT_EQ(clone->Next(1, types, nullptr), S_OK);
  EXPECT_TRUE(CMediaType(*types[0]) == input->offered[1]);
  DeleteMediaType(types[0]);
  clone->Release();

  input->BumpTypeVersion();
  EXPECT_EQ(e->Next(1, types, nullptr), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(e->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(e->Clone(&clone), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(clone, nullptr);
  EXPECT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Skip(2), S_OK);
  e->Release();
}

}  // namespace
