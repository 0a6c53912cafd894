-- The demo database of `make run`: customers, products, their orders and order lines, a few hundred rows
-- in all, generated here so that every run starts from the same data. Run with: sqlite3 demo.db < demo-db.sql
PRAGMA foreign_keys = ON;
BEGIN;
CREATE TABLE customers (id INTEGER PRIMARY KEY, name TEXT NOT NULL, city TEXT NOT NULL, since DATE);
CREATE TABLE products (id INTEGER PRIMARY KEY, name TEXT NOT NULL, price REAL NOT NULL);
CREATE TABLE orders (id INTEGER PRIMARY KEY, customer_id INTEGER NOT NULL REFERENCES customers(id),
                     ordered DATE NOT NULL, total REAL NOT NULL DEFAULT 0);
CREATE TABLE order_lines (id INTEGER PRIMARY KEY, order_id INTEGER NOT NULL REFERENCES orders(id),
                          product_id INTEGER NOT NULL REFERENCES products(id), quantity INTEGER NOT NULL,
                          price REAL NOT NULL);

WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 60)
INSERT INTO customers
SELECT i,
       (SELECT v FROM (SELECT 0 k, 'Alma' v UNION ALL SELECT 1, 'Bruno' UNION ALL SELECT 2, 'Carla'
                       UNION ALL SELECT 3, 'Dario' UNION ALL SELECT 4, 'Elin' UNION ALL SELECT 5, 'Femi'
                       UNION ALL SELECT 6, 'Greta' UNION ALL SELECT 7, 'Hugo' UNION ALL SELECT 8, 'Ines'
                       UNION ALL SELECT 9, 'Jonas') WHERE k = i % 10)
         || ' ' ||
       (SELECT v FROM (SELECT 0 k, 'Berg' v UNION ALL SELECT 1, 'Costa' UNION ALL SELECT 2, 'Dahl'
                       UNION ALL SELECT 3, 'Engel' UNION ALL SELECT 4, 'Fors' UNION ALL SELECT 5, 'Lund')
        WHERE k = (i / 10) % 6),
       (SELECT v FROM (SELECT 0 k, 'Oslo' v UNION ALL SELECT 1, 'Lisbon' UNION ALL SELECT 2, 'Tartu'
                       UNION ALL SELECT 3, 'Lyon' UNION ALL SELECT 4, 'Bergen') WHERE k = (i * 7) % 5),
       CASE WHEN i % 9 = 0 THEN NULL ELSE date('2015-01-01', '+' || ((i * 53) % 3000) || ' days') END
FROM n;

WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20)
INSERT INTO products
SELECT i,
       (SELECT v FROM (SELECT 0 k, 'Bolt' v UNION ALL SELECT 1, 'Bracket' UNION ALL SELECT 2, 'Hinge'
                       UNION ALL SELECT 3, 'Lamp' UNION ALL SELECT 4, 'Valve') WHERE k = i % 5)
         || ' ' || (SELECT v FROM (SELECT 0 k, 'S' v UNION ALL SELECT 1, 'M' UNION ALL SELECT 2, 'L'
                                   UNION ALL SELECT 3, 'XL') WHERE k = (i / 5) % 4),
       round(1.5 + (i * 37 % 200) / 4.0, 2)
FROM n;

WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200)
INSERT INTO orders (id, customer_id, ordered)
SELECT i, 1 + (i * 17) % 60, date('2023-01-01', '+' || ((i * 29) % 700) || ' days') FROM n;

WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 500)
INSERT INTO order_lines (id, order_id, product_id, quantity, price)
SELECT i, 1 + (i * 7) % 200, 1 + (i * 13) % 20, 1 + (i * 11) % 9, 0 FROM n;

UPDATE order_lines SET price = (SELECT price FROM products WHERE products.id = order_lines.product_id);
UPDATE orders SET total = round(coalesce((SELECT sum(quantity * price) FROM order_lines
                                          WHERE order_lines.order_id = orders.id), 0), 2);
COMMIT;
