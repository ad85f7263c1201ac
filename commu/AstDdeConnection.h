#pragma once
// AstDdeConnection: a server's side of one conversation and the data of
// the last poke received on it.
//
// The data buffer comes from the kit's system heap and always carries one
// zero byte after its size, so a poke that lacks its terminating zero is
// still read as a bounded text.

#include "commu/AstDde.h"
#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

#include <cstdint>

class LUMIVOR_EXPORT AstDdeConnection : public CvkBase {
public:
    AstDdeConnection();
    ~AstDdeConnection() override;
    AstDdeConnection(const AstDdeConnection&) = delete;
    AstDdeConnection& operator=(const AstDdeConnection&) = delete;

    // A buffer of size bytes owned by the connection (replacing an earlier
    // one); null when the heap refuses it.
    uint8_t* CreateData(uint32_t size);
    void DestroyData();
    uint8_t* GetData() const { return m_data; }
    // The data read as text (never null: empty without data).
    const char* GetText() const { return m_data != nullptr ? reinterpret_cast<const char*>(m_data) : ""; }
    uint32_t GetDataSize() const { return m_size; }

    AstDdeConv GetConversation() const { return m_conversation; }
    void SetConversation(AstDdeConv conversation) { m_conversation = conversation; }

private:
    uint8_t* m_data = nullptr;
    uint32_t m_size = 0;
    AstDdeConv m_conversation = 0;
};
