CREATE TRIGGER "biRemoveTrailingBlanks" BEFORE INSERT
ON "Transactions"
BEGIN
SET NEWROW._Reference = RTRIM(NEWROW._Reference);
SET NEWROW._Analysis = UPPER(RTRIM(NEWROW._Analysis));
END