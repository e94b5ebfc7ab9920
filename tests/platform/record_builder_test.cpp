#include "platform/simulated/record_builder.h"

#include "platform/simulated/sid_text.h"
#include "platform/simulated/tdh_catalog.h"
#include "platform/windows_facts.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tallowick::platform::simulated {
namespace {

std::uint32_t u32_at(std::span<const std::byte> bytes, std::size_t offset) {
    std::uint32_t value;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

std::u16string wide_at(std::span<const std::byte> bytes, std::size_t offset) {
    std::u16string text;
    for (char16_t unit = 0;; offset += 2) {
        std::memcpy(&unit, bytes.data() + offset, 2);
        if (unit == 0)
            return text;
        text.push_back(unit);
    }
}

EVENT_PROPERTY_INFO property_at(const built_record& record, std::size_t index) {
    EVENT_PROPERTY_INFO info;
    std::memcpy(&info, record.event_info().data() + 112 + 24 * index, sizeof info);
    return info;
}

std::vector<std::u16string> property_names(const built_record& record) {
    std::vector<std::u16string> names;
    const auto count = u32_at(record.event_info(), offsetof(TRACE_EVENT_INFO, PropertyCount));
    for (std::size_t i = 0; i < count; ++i)
        names.push_back(wide_at(record.event_info(), property_at(record, i).NameOffset));
    return names;
}

TEST(RecordBuilder, LaysOutAFileOpenAsKernelFileVersion1) {
    file_event open;
    open.process_id = 4242;
    open.name = u"\\Device\\HarddiskVolume3\\a.txt";
    open.share_access = 3;
    const built_record built = build_record(describe_file_event(open));
    const EVENT_RECORD& record = built.record();
    EXPECT_EQ(std::memcmp(&record.EventHeader.ProviderId, &kernel_file_provider, sizeof(GUID)), 0);
    EXPECT_EQ(record.EventHeader.EventDescriptor.Id, 12);
    EXPECT_EQ(record.EventHeader.EventDescriptor.Version, 1);
    EXPECT_EQ(record.EventHeader.EventDescriptor.Level, 4);
    EXPECT_EQ(record.EventHeader.EventDescriptor.Keyword, 0xA0u);
    EXPECT_EQ(record.EventHeader.ProcessId, 4242u);
    EXPECT_EQ(record.EventHeader.Flags, 0x40);
    EXPECT_EQ(property_names(built),
              (std::vector<std::u16string>{u"Irp", u"FileObject", u"IssuingThreadId", u"CreateOptions",
                                           u"CreateAttributes", u"ShareAccess", u"FileName"}));
    EXPECT_EQ(u32_at(built.payload(), 28), 3u);
    EXPECT_EQ(wide_at(built.payload(), 32), open.name);
    EXPECT_EQ(record.UserDataLength, 32 + 2 * (open.name.size() + 1));
    EXPECT_EQ(record.UserData, built.payload().data());

    const EVENT_PROPERTY_INFO name = property_at(built, 6);
    EXPECT_EQ(name.nonStructType.InType, 1);
    EXPECT_EQ(name.nonStructType.OutType, 1);
    EXPECT_EQ(name.length, 0);
    EXPECT_EQ(static_cast<std::uint32_t>(name.Flags), 0u);
    EXPECT_EQ(property_at(built, 0).nonStructType.InType, 16);
    EXPECT_EQ(property_at(built, 0).length, 8);
}

TEST(RecordBuilder, UsesTheVersion0LayoutsAndThePathEvents) {
    file_event open;
    open.version = 0;
    EXPECT_EQ(property_names(build_record(describe_file_event(open))),
              (std::vector<std::u16string>{u"Irp", u"ThreadId", u"FileObject", u"CreateOptions",
                                           u"CreateAttributes", u"ShareAccess", u"FileName"}));
    file_event rename;
    rename.id = file_rename_path_event;
    const auto renamed = build_record(describe_file_event(rename));
    EXPECT_EQ(property_names(renamed),
              (std::vector<std::u16string>{u"Irp", u"FileObject", u"FileKey", u"ExtraInformation",
                                           u"IssuingThreadId", u"InfoClass", u"FilePath"}));
    EXPECT_EQ(renamed.record().EventHeader.EventDescriptor.Keyword, 0x800u);
    rename.version = 0;
    EXPECT_EQ(property_names(build_record(describe_file_event(rename))),
              (std::vector<std::u16string>{u"Irp", u"ThreadId", u"FileObject", u"FileKey",
                                           u"ExtraInformation", u"InfoClass", u"FilePath"}));
}

TEST(RecordBuilder, LaysOutAProcessStartAsTheV4Class) {
    process_event start;
    start.process_id = 100;
    start.parent_id = 50;
    start.image_file_name = "cmd.exe";
    for (const std::uint16_t flags : {std::uint16_t{0x140}, std::uint16_t{0x120}}) {
        start.header_flags = flags;
        const built_record built = build_record(describe_process_event(start));
        const std::size_t pointer = flags == 0x120 ? 4 : 8;
        const auto payload = built.payload();
        EXPECT_EQ(built.record().EventHeader.EventDescriptor.Version, 4);
        EXPECT_EQ(built.record().EventHeader.EventDescriptor.Opcode, 1);
        EXPECT_EQ(built.record().EventHeader.ProcessId, 50u);
        EXPECT_EQ(u32_at(payload, pointer), 100u);
        EXPECT_EQ(u32_at(payload, pointer + 4), 50u);
        const std::size_t blob = 2 * pointer + 20; // after DirectoryTableBase and Flags
        EXPECT_EQ(blob, flags == 0x120 ? 28u : 36u);
        const auto sid = sid_from_text("S-1-5-18");
        EXPECT_EQ(std::memcmp(payload.data() + blob + 2 * pointer, sid->data(), sid->size()), 0);
        EXPECT_EQ(built.property_sizes()[7], 2 * pointer + 12);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(payload.data() + blob + 2 * pointer + 12)),
                  "cmd.exe");
        EXPECT_EQ(property_at(built, 7).nonStructType.InType, 310);
    }
}

TEST(RecordBuilder, TruncatesThePayloadAndRejectsBadInput) {
    record_description description;
    description.properties = {record_property::unicode(u"Name", u"abcdef")};
    description.truncate = 5;
    const built_record cut = build_record(description);
    EXPECT_EQ(cut.record().UserDataLength, 5);
    EXPECT_EQ(cut.property_sizes()[0], 14u);

    description.properties = {record_property::sid(u"Sid", "S-1-x")};
    EXPECT_THROW(build_record(description), std::invalid_argument);
    description.properties = {record_property::raw(u"Big", std::vector<std::byte>(70000))};
    description.truncate.reset();
    EXPECT_THROW(build_record(description), std::length_error);
}

TEST(TdhCatalog, AnswersTheTwoCallContractAndPropertySizes) {
    tdh_catalog catalog;
    record_description description;
    description.header.id = 9;
    description.properties = {record_property::raw(u"Blob", std::vector<std::byte>(3))};
    const built_record record = build_record(description);
    std::uint32_t size = 0;
    EXPECT_EQ(catalog.get_event_information(record.record(), nullptr, &size), 1168u);

    catalog.add(record);
    EXPECT_EQ(catalog.get_event_information(record.record(), nullptr, &size), 122u);
    EXPECT_EQ(size, record.event_info().size());
    std::vector<std::byte> buffer(size);
    std::uint32_t short_size = size - 1;
    EXPECT_EQ(catalog.get_event_information(record.record(),
                                            reinterpret_cast<TRACE_EVENT_INFO*>(buffer.data()), &short_size),
              122u);
    EXPECT_EQ(catalog.get_event_information(record.record(),
                                            reinterpret_cast<TRACE_EVENT_INFO*>(buffer.data()), &size),
              0u);
    EXPECT_EQ(std::memcmp(buffer.data(), record.event_info().data(), size), 0);

    const EVENT_PROPERTY_INFO blob = property_at(record, 0);
    PROPERTY_DATA_DESCRIPTOR descriptor{reinterpret_cast<std::uintptr_t>(buffer.data() + blob.NameOffset),
                                        0xFFFFFFFF, 0};
    std::uint32_t property_size = 0;
    EXPECT_EQ(catalog.get_property_size(record.record(), descriptor, &property_size), 0u);
    EXPECT_EQ(property_size, 3u);

    catalog.remove(record);
    property_size = 0;
    EXPECT_EQ(catalog.get_property_size(record.record(), descriptor, &property_size), 1168u);
    EXPECT_EQ(property_size, 0u);
    EXPECT_EQ(catalog.get_event_information(record.record(), nullptr, &size), 122u);

    description.header.id = 10;
    description.schema_known = false;
    const built_record unknown = build_record(description);
    catalog.add(unknown);
    EXPECT_EQ(catalog.get_event_information(unknown.record(), nullptr, &size), 1168u);
}

} // namespace
} // namespace tallowick::platform::simulated
