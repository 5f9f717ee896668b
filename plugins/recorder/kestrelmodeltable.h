#pragma once

#include <QString>

// Turns a recorder's USB product id into its model number and the model's name and pictures.
class KestrelModelTable
{
public:
    enum Model {
        KestrelPocket = 0,
        KestrelPocket2 = 1,
        KestrelBenchMax = 2,
        KestrelBench = 3,
        KestrelBenchUHD = 4,
        KestrelBenchLite = 5,
        UnknownModel = 6,
    };

    // The USB generation that serves a model.
    enum BackEnd { NoBackEnd, FX2, XmegaMailbox, XmegaStreaming };

    static constexpr quint16 kVendorId = 0x2C4A;

    static int model(quint16 productId);
    static QString name(int model);
    static QString productImage(int model);
    static QString thumbnail(int model);
    static BackEnd backEnd(int model);
};
