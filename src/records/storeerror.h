#pragma once

#include "app/apperror.h"

namespace kestrella {

// A failure of the record store: SQLite's error number and text, or one of the store's own below.
class StoreError : public AppError
{
public:
    using AppError::AppError;

    static StoreError noCurrentRecord();
    static StoreError recordDeleted();
    static StoreError notOpen();
};

} // namespace kestrella
