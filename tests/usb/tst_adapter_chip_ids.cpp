#include "FakeChipIdLibrary.h"
#include "usb/AdapterChipIds.h"
#include "usb/FtdiChipIdLibrary.h"
#include <QtTest>

namespace {
FakeChipIdLibrary::Adapter adapter(const QByteArray &serialNumber, std::int32_t chipId)
{
    FakeChipIdLibrary::Adapter a;
    a.serialNumber = serialNumber;
    a.chipId = chipId;
    return a;
}
}

class TestAdapterChipIds : public QObject {
    Q_OBJECT
private slots:
    // Only a serial number that names one adapter, whose chip ID reads,
    // leads to a chip ID.
    void onlyUnambiguousReadableAdaptersAreMatched()
    {
        FakeChipIdLibrary library;
        auto unreadable = adapter("FT0C", 3);
        unreadable.chipIdStatus = ChipIdLibrary::DeviceNotOpened;
        auto noSerial = adapter("FT0D", 4);
        noSerial.serialNumberStatus = ChipIdLibrary::IoError;
        library.adapters = {adapter("FT0A", -1), adapter("FT0B", 2), adapter("", 5), unreadable,
                            noSerial, adapter("FT0B", 6), adapter("FT0E", 7), adapter("FT0E", 7)};
        const QHash<QString, std::uint32_t> expected{{"FT0A", 0xffffffffu}};
        QCOMPARE(chipIdsBySerialNumber(library), expected);

        library.countStatus = ChipIdLibrary::UsbUnavailable;
        QVERIFY(chipIdsBySerialNumber(library).isEmpty());
    }

    // This machine has no adapters and perhaps no USB access at all.
    void realLibraryOnThisMachine()
    {
        FtdiChipIdLibrary library;
        chipIdsBySerialNumber(library);
        char buffer[8];
        QCOMPARE(library.FTID_GetDeviceSerialNumber(1000, buffer, sizeof buffer),
                 std::int32_t(ChipIdLibrary::DeviceNotFound));
    }
};

QTEST_MAIN(TestAdapterChipIds)
#include "tst_adapter_chip_ids.moc"
