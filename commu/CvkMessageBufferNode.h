#pragma once
// CvkMessageBufferNode: converts a kit message buffer to its "MSGBUF" tree,
// the form in which messages travel inside a command, and back:
//
//   MSGBUF
//     MSGBLK  To = <u32>, Msg = <u32>, From = <u32>     (one per live slot)
//       VAR  Type = <variant kind>, Val = <value>       (exactly five)
//
// A "FIXED" value is kept as its decimal text, which reads back exactly and,
// unlike the number itself, survives the attribute text writer.

#include "kit/CvkAllocator.h"
#include "platform/PlatformExport.h"

#include <cstdint>

class AtrNode;
class CvkMessageBlock;
class CvkMessageBuffer;

inline constexpr char CVK_MESSAGE_NODE_BUFFER[] = "MSGBUF";
inline constexpr char CVK_MESSAGE_NODE_BLOCK[] = "MSGBLK";
inline constexpr char CVK_MESSAGE_NODE_TO[] = "To";
inline constexpr char CVK_MESSAGE_NODE_MSG[] = "Msg";
inline constexpr char CVK_MESSAGE_NODE_FROM[] = "From";
inline constexpr char CVK_MESSAGE_NODE_VAR[] = "VAR";
inline constexpr char CVK_MESSAGE_NODE_TYPE[] = "Type";
inline constexpr char CVK_MESSAGE_NODE_VAL[] = "Val";
constexpr int32_t CVK_MESSAGE_NODE_PARAMS = 5;

class LUMIVOR_EXPORT CvkMessageBufferNode : public CvkAllocator {
public:
    // A new "MSGBUF" tree of the buffer's live slots, in slot order; the
    // caller owns it. Null for a null buffer or when memory runs out.
    AtrNode* WriteToNode(CvkMessageBuffer* buffer) const;
    // Appends every "MSGBLK" child of node to the buffer with SetMessage.
    // 0 when node is not a "MSGBUF", or at the first block that does not
    // convert or finds the buffer full (blocks before it stay).
    int32_t ReadFromNode(CvkMessageBuffer* buffer, const AtrNode* node) const;
    // "MSGBLK" children of a "MSGBUF" node; 0 for any other node or null.
    int32_t GetMessageBlockNum(const AtrNode* node) const;

private:
    AtrNode* _writeBlock(AtrNode* parent, const CvkMessageBlock& block) const;
    int32_t _readBlock(CvkMessageBuffer* buffer, const AtrNode* node) const;
};
