#pragma once
// Builds command texts for the communication tests.

#include "attribute/AtrNode.h"
#include "commu/AstCommandNode.h"
#include "commu/AstCommuNode.h"
#include "commu/CvkMessageBufferNode.h"
#include "kit/CvString.h"
#include "kit/CvkMessageBuffer.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

struct TestMessage {
    TestMessage(uint32_t to_, uint32_t msg_, uint32_t from_, std::string p0_ = std::string())
        : to(to_), msg(msg_), from(from_), p0(std::move(p0_))
    {
    }
    uint32_t to;
    uint32_t msg;
    uint32_t from;
    std::string p0; // a text parameter 0 when not empty
};

struct TestSettings {
    std::string morrinDdeName;
    std::string veldraDdeName;
    std::string tessolinDdeName = "Tessolin";
    std::string machineName;
    uint32_t portNo = 0;
    std::string morrinFileName;
};

// The text of a command to `to` carrying the messages and the settings.
inline std::string CommandText(int32_t to, const std::vector<TestMessage>& messages,
                               const TestSettings& settings = TestSettings())
{
    AstCommandNode command;
    command.Create();
    command.SetTo(to);
    CvkMessageBuffer buffer(std::max<int32_t>(1, static_cast<int32_t>(messages.size())));
    for (const TestMessage& m : messages) {
        buffer.SetMessage(m.to, m.msg, m.from, m.p0.empty() ? CvVariant() : CvVariant(m.p0.c_str()));
    }
    command.SetMessageNode(CvkMessageBufferNode().WriteToNode(&buffer));
    AstCommuNode commu(command.GetCommuNode());
    commu.SetTessolinDdeName(settings.tessolinDdeName.c_str());
    if (!settings.morrinDdeName.empty()) {
        commu.SetMorrinDdeName(settings.morrinDdeName.c_str());
    }
    if (!settings.veldraDdeName.empty()) {
        commu.SetVeldraDdeName(settings.veldraDdeName.c_str());
    }
    if (!settings.machineName.empty()) {
        commu.SetMachineName(settings.machineName.c_str());
        commu.SetPortNo(settings.portNo);
    }
    if (!settings.morrinFileName.empty()) {
        command.SetMorrinFileName(settings.morrinFileName.c_str());
    }
    return command.GetText().GetBuffer();
}

// The messages of a command text as (to, msg, p0 text) lines.
inline std::vector<std::string> MessagesOf(AstCommandNode& command)
{
    std::vector<std::string> lines;
    const AtrNode* node = command.GetMessageNode();
    if (node == nullptr) {
        return lines;
    }
    CvkMessageBufferNode converter;
    CvkMessageBuffer buffer(std::max<int32_t>(1, converter.GetMessageBlockNum(node)));
    converter.ReadFromNode(&buffer, node);
    for (int32_t i = 0; i < buffer.GetMessageBlockNum(); ++i) {
        const CvkMessageBlock& b = buffer.GetMessageBlock()[i];
        if (b.GetUse() != 0) {
            const char* p0 = b.GetParam0().GetType() == CVK_VARIANT_TYPE_STRING ? b.GetParam0().GetString() : "";
            lines.push_back(std::to_string(b.GetTo()) + " " + std::to_string(b.GetMsg()) + " " + p0);
        }
    }
    return lines;
}
