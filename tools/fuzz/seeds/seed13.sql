CREATE INDEX "UpDate"
ON "Transactions"
("_Date" ASC)